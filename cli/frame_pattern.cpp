// Parsing of sequence patterns and frame ranges.
#include "cli/frame_pattern.h"

#include <cctype>
#include <charconv>
#include <cstdio>

#include "cli/cli_error.h"

std::optional<FramePattern> parse_frame_pattern(const std::string& text) {
  std::optional<FramePattern> found;
  std::string literal;
  auto add_field = [&](int width) {
    if (found) {
      throw bad_input("the file name pattern \"" + text + "\" holds more than one frame field");
    }
    found = FramePattern{literal, "", width};
    literal.clear();
  };
  for (size_t i = 0; i < text.size();) {
    char c = text[i];
    if (c == '#') {
      size_t run = text.find_first_not_of('#', i);
      if (run == std::string::npos) run = text.size();
      add_field(static_cast<int>(run - i));
      i = run;
    } else if (c == '%') {
      if (i + 1 < text.size() && text[i + 1] == '%') {
        literal += '%';
        i += 2;
        continue;
      }
      // %d or %0Nd; any other % sequence would be taken literally by nobody, so refuse it.
      size_t j = i + 1;
      int width = 0;
      if (j < text.size() && text[j] == '0') {
        ++j;
        size_t digits_start = j;
        while (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j]))) ++j;
        if (j == digits_start || j - digits_start > 1 || text[digits_start] == '0') {
          throw bad_input("the file name pattern \"" + text +
                          "\" has a frame field that is not %d or %0Nd with N from 1 to 9");
        }
        width = text[digits_start] - '0';
      }
      if (j >= text.size() || text[j] != 'd') {
        throw bad_input("the file name pattern \"" + text +
                        "\" has a % that is not a frame field (%d, %0Nd) or %%");
      }
      add_field(width);
      i = j + 1;
    } else {
      literal += c;
      ++i;
    }
  }
  if (found) found->suffix = literal;
  return found;
}

std::string frame_path(const FramePattern& pattern, int frame) {
  char digits[32];
  std::snprintf(digits, sizeof digits, "%0*d", pattern.width, frame);
  return pattern.prefix + digits + pattern.suffix;
}

namespace {

bool parse_int(const std::string& text, int& value) {
  if (text.empty()) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

}  // namespace

FrameRange parse_frame_range(const std::string& text) {
  const std::string usage =
      "--frames " + text + ": expected A-B with whole frame numbers 0 <= A <= B, or one frame A";
  FrameRange range;
  size_t dash = text.find('-');
  if (dash == std::string::npos) {
    if (!parse_int(text, range.first)) throw bad_input(usage);
    range.last = range.first;
  } else if (!parse_int(text.substr(0, dash), range.first) ||
             !parse_int(text.substr(dash + 1), range.last)) {
    throw bad_input(usage);
  }
  if (range.first < 0 || range.last < range.first) throw bad_input(usage);
  return range;
}
