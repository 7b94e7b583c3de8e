#include "media/frame_check.h"

#include <sys/stat.h>

#include <cstdio>

#include "media/frame_reader.h"

namespace {
void CountChunk(const FrameInfo& fi, FrameCheckResult* res) {
  ++res->nChunks;
  res->nChunkBytes += fi.nTotalLen;
  ++res->channels[fi.nChunkChannel];
  res->nKeyFrames += fi.bKeyFrame != 0;
  if (!fi.bVideo) {
    ++res->nAudio;
    return;
  }
  ++res->nVideo;
  if (!res->bHasVideoTime) res->nFirstVideoMs = fi.nTimestampMs;
  res->bHasVideoTime = true;
  res->nLastVideoMs = fi.nTimestampMs;
}

void AddLine(std::string* out, const char* name, const std::string& value) {
  *out += name;
  *out += ": ";
  *out += value;
  *out += '\n';
}
}  // namespace

bool CheckFrameFile(const char* path, FrameCheckResult* res) {
  *res = FrameCheckResult{};
  CFrameReader reader;
  if (!reader.Open(path)) return false;
  struct stat st {};
  if (stat(path, &st) == 0) res->nFileSize = st.st_size;
  for (;;) {
    FrameInfo fi{};
    bool restarted = false;
    int32_t r = reader.Next(&fi, &restarted);
    if (restarted) break;  // one pass only
    if (r == CHUNK_SKIP) ++res->nSkippedBytes;
    if (r != CHUNK_OK) continue;
    CountChunk(fi, res);
    reader.Consume(fi);
  }
  int64_t tail = res->nFileSize - res->nChunkBytes - res->nSkippedBytes;
  res->nTailBytes = tail > 0 ? tail : 0;
  return true;
}

int64_t CheckDurationMs(const FrameCheckResult& res) {
  return res.bHasVideoTime ? int64_t{res.nLastVideoMs} - res.nFirstVideoMs : 0;
}

std::string FormatFrameCheck(const FrameCheckResult& res) {
  std::string out;
  char buf[64];
  AddLine(&out, "file bytes", std::to_string(res.nFileSize));
  AddLine(&out, "chunks", std::to_string(res.nChunks));
  AddLine(&out, "video chunks", std::to_string(res.nVideo));
  AddLine(&out, "audio chunks", std::to_string(res.nAudio));
  AddLine(&out, "key frames", std::to_string(res.nKeyFrames));
  AddLine(&out, "first time stamp ms", res.bHasVideoTime ? std::to_string(res.nFirstVideoMs) : "n/a");
  AddLine(&out, "last time stamp ms", res.bHasVideoTime ? std::to_string(res.nLastVideoMs) : "n/a");
  int64_t dur = CheckDurationMs(res);
  AddLine(&out, "duration ms", std::to_string(dur));
  if (dur > 0 && res.nVideo > 1) {
    snprintf(buf, sizeof buf, "%.3f", static_cast<double>(res.nVideo - 1) * 1000.0 / static_cast<double>(dur));
    AddLine(&out, "average frame rate", buf);
  } else {
    AddLine(&out, "average frame rate", "n/a");
  }
  for (const auto& [channel, count] : res.channels) {
    snprintf(buf, sizeof buf, "channel %d chunks", channel);
    AddLine(&out, buf, std::to_string(count));
  }
  AddLine(&out, "skipped bytes", std::to_string(res.nSkippedBytes));
  AddLine(&out, "unread tail bytes", std::to_string(res.nTailBytes));
  return out;
}
