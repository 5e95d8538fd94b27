// The process-wide settings record. Reading the INI chain into it is done by the configuration
// loader, which lives apart; until it runs, every key keeps its default.
#include "shell/configuration.h"

namespace talven::shell {

Configuration& config() {
  static Configuration instance;
  return instance;
}

}  // namespace talven::shell
