// Keeps the libraries under OpenImageIO (libpng, libtiff, ...) from printing on the command's
// stderr: they report problems both to OpenImageIO, whose message we show, and straight to
// file descriptor 2, which would garble the progress bar and the command's own messages.
// While a QuietStderr lives, descriptor 2 points at /dev/null. Descriptor 2 belongs to the
// whole process, so the scopes are serialised by one mutex, which the progress display also
// takes before it draws.
#pragma once

#include <mutex>

std::mutex& stderr_mutex();

struct QuietStderr {
  QuietStderr();
  ~QuietStderr();
  QuietStderr(const QuietStderr&) = delete;
  QuietStderr& operator=(const QuietStderr&) = delete;

 private:
  std::unique_lock<std::mutex> lock_;
  int saved_ = -1;
};
