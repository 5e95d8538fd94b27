// Process-level services: the executable's location, the current directory, single instance.
#pragma once
#include <string>

namespace talven::platform {

std::string executable_path();  // UTF-8 absolute path of the running executable
bool change_directory(const std::string& host_path);
std::string current_directory();
std::string absolute_path(const std::string& host_path);  // made absolute, not resolved

// One running instance per name on this machine and user session, like a named mutex: an
// abstract local socket that exists while the first instance lives.
class SingleInstance {
 public:
  SingleInstance() = default;
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;
  ~SingleInstance();

  // True when this process is now the instance. False when another one holds the name: it has
  // then been asked to bring its window forward.
  bool acquire(const std::string& name);
  // For the instance: true once for each later start that asked to be shown instead.
  bool raise_requested();

 private:
  int socket_ = -1;
};

}  // namespace talven::platform
