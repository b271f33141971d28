// Drawing of the progress line.
#include "cli/progress_display.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iostream>

#include "cli/quiet_stderr.h"

namespace {

int terminal_width() {
  struct winsize ws {};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 20) return ws.ws_col;
  return 80;
}

std::string bar(double fraction, int width) {
  int filled = static_cast<int>(fraction * width + 1e-9);
  filled = std::clamp(filled, 0, width);
  // Appended, not `"[" + ...`: GCC 12 at -O3 warns of an overlap (-Wrestrict) there is not.
  std::string text("[");
  text.append(static_cast<size_t>(filled), '#');
  text.append(static_cast<size_t>(width - filled), '.');
  text += ']';
  return text;
}

std::string percent(double fraction) {
  char text[8];
  std::snprintf(text, sizeof text, "%3d%%", static_cast<int>(fraction * 100.0));
  return text;
}

}  // namespace

ProgressDisplay::ProgressDisplay(int frame_count, bool enabled)
    : frame_count_(std::max(frame_count, 1)), enabled_(enabled) {}

ProgressDisplay::~ProgressDisplay() { clear(); }

double ProgressDisplay::frame_fraction(int32_t current, int32_t total) {
  if (current <= 0 || total <= 0) return 0.0;
  // Past (or at) the estimate, treat the total as one more than done so far.
  const double effective_total = std::max<double>(total, static_cast<double>(current) + 1.0);
  return std::min(static_cast<double>(current) / effective_total, 0.999);
}

void ProgressDisplay::frame_started(int frame) {
  std::lock_guard<std::mutex> lock(mutex_);
  active_[frame] = FrameState{};
  draw_locked(false);
}

void ProgressDisplay::frame_progress(int frame, int32_t current, int32_t total) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = active_.find(frame);
  if (it == active_.end()) return;
  it->second.fraction = std::max(it->second.fraction, frame_fraction(current, total));
  it->second.current = current;
  it->second.total = total;
  draw_locked(false);
}

void ProgressDisplay::frame_finished(int frame) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (active_.erase(frame) > 0) ++finished_;
  draw_locked(true);
}

void ProgressDisplay::print_line(const std::string& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  erase_locked();
  std::cout << line << std::endl;
  draw_locked(true);
}

void ProgressDisplay::print_message(const std::string& message) {
  std::lock_guard<std::mutex> lock(mutex_);
  erase_locked();
  {
    std::lock_guard<std::mutex> terminal(stderr_mutex());
    std::cerr << message << std::endl;
  }
  draw_locked(true);
}

void ProgressDisplay::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  erase_locked();
}

void ProgressDisplay::erase_locked() {
  if (!enabled_ || !drawn_) return;
  std::lock_guard<std::mutex> terminal(stderr_mutex());
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  drawn_ = false;
}

void ProgressDisplay::draw_locked(bool force) {
  if (!enabled_) return;
  const auto now = std::chrono::steady_clock::now();
  if (!force && drawn_ && now - last_draw_ < std::chrono::milliseconds(100)) return;
  // While a file is being read stderr is muted; skip this drawing rather than wait.
  std::unique_lock<std::mutex> terminal(stderr_mutex(), std::try_to_lock);
  if (!terminal.owns_lock()) return;
  last_draw_ = now;

  double in_flight = 0;
  for (const auto& [frame, state] : active_) in_flight += state.fraction;
  const double overall = std::min(1.0, (finished_ + in_flight) / frame_count_);

  std::string line = "veilmora " + bar(overall, 24) + " " + percent(overall);
  if (frame_count_ == 1) {
    // One picture: its tiles, against the module's estimate (which the count may pass).
    for (const auto& [frame, state] : active_) {
      if (state.total > 0) {
        line += "  tile " + std::to_string(state.current) + " of " +
                (state.current > state.total ? "more than " : "") + std::to_string(state.total);
      }
    }
  } else {
    line += "  " + std::to_string(finished_) + "/" + std::to_string(frame_count_) + " frames";
    for (const auto& [frame, state] : active_) {
      line += "  frame " + std::to_string(frame) + " " + bar(state.fraction, 10) + " " +
              percent(state.fraction);
    }
  }
  const size_t width = static_cast<size_t>(terminal_width() - 1);
  if (line.size() > width) line.resize(width);
  std::fputs(("\r" + line + "\033[K").c_str(), stderr);
  std::fflush(stderr);
  drawn_ = true;
}
