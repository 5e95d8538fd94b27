#include "shell/configuration.h"

namespace talven::shell {

// The process-wide settings, holding the defaults. Reading the configuration files comes with the
// configuration loader, which is built separately.
Configuration& config() {
  static Configuration configuration;
  return configuration;
}

}  // namespace talven::shell
