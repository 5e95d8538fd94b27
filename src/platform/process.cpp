#include "platform/process.h"

#include <limits.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstddef>
#include <cstring>

namespace talven::platform {

std::string executable_path() {
  char buffer[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return std::string();
  return std::string(buffer, static_cast<std::size_t>(n));
}

bool change_directory(const std::string& host_path) { return ::chdir(host_path.c_str()) == 0; }

std::string current_directory() {
  char buffer[PATH_MAX];
  return ::getcwd(buffer, sizeof buffer) ? std::string(buffer) : std::string(".");
}

std::string absolute_path(const std::string& host_path) {
  if (!host_path.empty() && host_path.front() == '/') return host_path;
  std::string cwd = current_directory();
  if (host_path.empty() || host_path == ".") return cwd;
  return cwd + (cwd.back() == '/' ? "" : "/") + host_path;
}

namespace {

sockaddr_un abstract_address(const std::string& name, socklen_t& length) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  // A leading zero byte puts the name in the abstract namespace: no file, gone with the process.
  std::size_t n = std::min(name.size(), sizeof address.sun_path - 2);
  std::memcpy(address.sun_path + 1, name.data(), n);
  length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + n);
  return address;
}

}  // namespace

SingleInstance::~SingleInstance() {
  if (socket_ >= 0) ::close(socket_);
}

bool SingleInstance::acquire(const std::string& name) {
  std::string full = name + "-" + std::to_string(::getuid());
  socklen_t length;
  sockaddr_un address = abstract_address(full, length);
  int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (s < 0) return true;  // no sockets: nothing to coordinate with
  if (::bind(s, reinterpret_cast<sockaddr*>(&address), length) == 0 && ::listen(s, 4) == 0) {
    socket_ = s;
    return true;
  }
  ::close(s);
  if (errno != EADDRINUSE) return true;
  // Someone holds it: ask that instance to come forward.
  int c = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (c >= 0) {
    if (::connect(c, reinterpret_cast<sockaddr*>(&address), length) == 0) {
      char raise = 'R';
      [[maybe_unused]] ssize_t w = ::write(c, &raise, 1);
    }
    ::close(c);
  }
  return false;
}

bool SingleInstance::raise_requested() {
  if (socket_ < 0) return false;
  int c = ::accept4(socket_, nullptr, nullptr, SOCK_CLOEXEC);
  if (c < 0) return false;
  ::close(c);
  return true;
}

}  // namespace talven::platform
