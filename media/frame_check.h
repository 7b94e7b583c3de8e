#pragma once
#include <cstdint>
#include <map>
#include <string>

// What one pass of the frame file reader over a file finds.
struct FrameCheckResult {
  int64_t nFileSize = 0;
  int64_t nChunks = 0;
  int64_t nVideo = 0;
  int64_t nAudio = 0;
  int64_t nKeyFrames = 0;
  int64_t nChunkBytes = 0;    // bytes inside yielded chunks
  int64_t nSkippedBytes = 0;  // bytes passed over one by one while resynchronising
  int64_t nTailBytes = 0;     // bytes at the end never yielded (cut-off chunk, short tail)
  bool bHasVideoTime = false;
  int32_t nFirstVideoMs = 0;  // time stamps of the first and last video chunk
  int32_t nLastVideoMs = 0;
  std::map<int32_t, int64_t> channels;  // chunk channel -> chunks
};

// Walks path once with CFrameReader, exactly as the live sender would, until
// the reader starts the file again. False when the file cannot be opened.
// Debug lines of the walk (oversize chunks, the restart) go to the debug channel.
bool CheckFrameFile(const char* path, FrameCheckResult* res);

// Duration between the first and last video time stamp, in ms (0 without video).
int64_t CheckDurationMs(const FrameCheckResult& res);

// The report printed by the maker tool, one "name: value" per line.
std::string FormatFrameCheck(const FrameCheckResult& res);
