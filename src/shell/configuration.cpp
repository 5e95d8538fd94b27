// The configuration table. Only the instance with its defaults lives here for now; reading the
// chain of INI files comes separately.
#include "shell/configuration.h"

namespace talven::shell {

Configuration& config() {
  static Configuration instance;
  return instance;
}

}  // namespace talven::shell
