// File name patterns for image sequences: one frame field, written as printf-style %d or %0Nd
// (N = 1 to 9), or as a run of '#' characters (one digit per '#', "####" = four digits).
// "%%" stands for a literal percent sign.
#pragma once

#include <optional>
#include <string>

struct FramePattern {
  std::string prefix;
  std::string suffix;
  int width = 0;  // minimum digits, padded with zeros; 0 or 1 for plain %d
};

// Finds the frame field in `text`. Returns nothing when there is none; throws a CliError
// (exit 2) when there are several or a % sequence is malformed.
std::optional<FramePattern> parse_frame_pattern(const std::string& text);

// The file name of `frame`.
std::string frame_path(const FramePattern& pattern, int frame);

struct FrameRange {
  int first = 0;
  int last = 0;
};

// "A-B" with 0 <= A <= B, or a single frame "A". Throws a CliError (exit 2) otherwise.
FrameRange parse_frame_range(const std::string& text);
