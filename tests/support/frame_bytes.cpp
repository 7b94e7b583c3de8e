#include "tests/support/frame_bytes.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
void PutLe(Bytes& out, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
}  // namespace

Bytes AvapiChunk(uint8_t channel, char type, const Bytes& ext, size_t payloadLen, uint8_t fill) {
  Bytes b;
  b.reserve(12 + ext.size() + payloadLen);
  b = {channel, static_cast<uint8_t>(type), 'd', 'c'};
  PutLe(b, payloadLen, 4);
  PutLe(b, ext.size(), 4);
  AppendBytes(b, ext);
  b.resize(b.size() + payloadLen, fill);
  return b;
}

Bytes ExtRecordWithLength(uint8_t type, uint32_t lengthField, const Bytes& body) {
  Bytes b;
  b.reserve(4 + body.size());
  b.push_back(type);
  PutLe(b, lengthField, 3);
  AppendBytes(b, body);
  return b;
}

Bytes ExtRecord(uint8_t type, const Bytes& body) {
  return ExtRecordWithLength(type, static_cast<uint32_t>(4 + body.size()), body);
}

Bytes H264Head(char channelDigit, bool key, uint64_t timeUs, uint32_t payloadLen, uint16_t extLen, const char* mark) {
  Bytes b;
  b.reserve(24);
  b = {static_cast<uint8_t>(channelDigit), static_cast<uint8_t>(key ? '0' : '1'), 'd', 'c'};
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(mark[i]));
  PutLe(b, payloadLen, 4);
  PutLe(b, extLen, 2);
  PutLe(b, 0, 2);
  PutLe(b, timeUs, 8);
  return b;
}

Bytes H264Chunk(char channelDigit, bool key, uint64_t timeUs, size_t payloadLen, const char* mark, size_t extLen) {
  Bytes b = H264Head(channelDigit, key, timeUs, static_cast<uint32_t>(payloadLen), static_cast<uint16_t>(extLen), mark);
  b.resize(b.size() + extLen, 0xEE);
  for (size_t i = 0; i < payloadLen; ++i) b.push_back(static_cast<uint8_t>(i * 7 + 1));
  return b;
}

Bytes AudioChunk(char channelDigit, size_t payloadLen) {
  Bytes b{static_cast<uint8_t>(channelDigit), 'x', 'w', 'b', 0, 0};
  PutLe(b, payloadLen, 2);
  b.resize(b.size() + payloadLen, 0x11);
  return b;
}

void AppendBytes(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }

std::string WriteFrameTempFile(const std::string& name, const Bytes& bytes) {
  const char* dir = getenv("TMPDIR");
  std::string path = std::string(dir && *dir ? dir : "/tmp") + "/zel-" + std::to_string(getpid()) + "-" + name;
  FILE* f = fopen(path.c_str(), "wb");
  if (f) {
    if (!bytes.empty()) fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
  }
  return path;
}
