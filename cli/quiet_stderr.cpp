// Redirection of descriptor 2 to /dev/null for the length of a scope.
#include "cli/quiet_stderr.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

std::mutex& stderr_mutex() {
  static std::mutex mutex;
  return mutex;
}

QuietStderr::QuietStderr() : lock_(stderr_mutex()) {
  std::fflush(stderr);
  saved_ = ::dup(STDERR_FILENO);
  const int null_fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (saved_ >= 0 && null_fd >= 0) ::dup2(null_fd, STDERR_FILENO);
  if (null_fd >= 0) ::close(null_fd);
}

QuietStderr::~QuietStderr() {
  std::fflush(stderr);
  if (saved_ >= 0) {
    ::dup2(saved_, STDERR_FILENO);
    ::close(saved_);
  }
}
