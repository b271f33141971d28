// Splitting a frame range into N consecutive parts for a farm scheduler: task K of N renders
// the K-th part. The parts differ in length by at most one frame, the longer ones first, so
// every task of an array job gets about the same work and together they cover the range
// exactly once.
#pragma once

#include <optional>
#include <string>

#include "cli/frame_pattern.h"

struct FrameChunk {
  int index = 1;  // K, 1-based as Slurm's array indices usually are
  int count = 1;  // N
};

// "K/N" with 1 <= K <= N <= 100000. Throws a CliError (exit 2) otherwise.
FrameChunk parse_frame_chunk(const std::string& text);

// The frames of part K of N of `range`; nothing when the range has fewer than K frames.
std::optional<FrameRange> chunk_frames(const FrameRange& range, const FrameChunk& chunk);
