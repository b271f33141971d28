// The progress bar on stderr: one line, redrawn in place, showing the whole sequence and each
// frame being rendered, fed by the module's own progress reports. Safe to call from the
// threads rendering frames. When disabled (stderr not a terminal, or --quiet) it draws
// nothing but still passes text lines through.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

class ProgressDisplay {
 public:
  ProgressDisplay(int frame_count, bool enabled);
  ~ProgressDisplay();
  ProgressDisplay(const ProgressDisplay&) = delete;
  ProgressDisplay& operator=(const ProgressDisplay&) = delete;

  void frame_started(int frame);
  // A report (current, total) from the module for `frame`.
  void frame_progress(int frame, int32_t current, int32_t total);
  void frame_finished(int frame);
  // Prints a line on stdout without tearing the bar.
  void print_line(const std::string& line);
  // Prints a message on stderr without tearing the bar.
  void print_message(const std::string& message);
  // Removes the bar (end of the run).
  void clear();

  // How far a frame is, 0..1, from its latest report. The module's total is an estimate that
  // the tile count can exceed; past it the fraction keeps creeping toward (never reaching) 1
  // instead of sitting at 100% while work goes on. Only the end of the frame makes it 1.
  static double frame_fraction(int32_t current, int32_t total);

 private:
  void draw_locked(bool force);
  void erase_locked();

  std::mutex mutex_;
  const int frame_count_;
  const bool enabled_;
  int finished_ = 0;
  struct FrameState {
    double fraction = 0.0;
    int32_t current = 0;  // the module's latest count and total
    int32_t total = 0;
  };
  std::map<int, FrameState> active_;
  std::chrono::steady_clock::time_point last_draw_{};
  bool drawn_ = false;
};
