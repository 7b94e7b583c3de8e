#include "media/frame_writer.h"

#include <cstring>

CFrameFileWriter::~CFrameFileWriter() { Close(); }

bool CFrameFileWriter::Create(const char* path) {
  Close();
  pFile = fopen(path, "wb");
  bFailed = false;
  return pFile != nullptr;
}

void CFrameFileWriter::Append(const void* data, size_t len) {
  if (!pFile || bFailed) {
    bFailed = true;
    return;
  }
  if (len > 0 && fwrite(data, 1, len, pFile) != len) bFailed = true;
}

bool CFrameFileWriter::Close() {
  if (!pFile) return !bFailed;
  bool ok = !bFailed && fflush(pFile) == 0 && !ferror(pFile);
  if (fclose(pFile) != 0) ok = false;
  pFile = nullptr;
  bFailed = !ok;
  return ok;
}

namespace {
void PutLe(uint8_t* p, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
}  // namespace

void WriteH264ChunkHead(uint8_t* head, int32_t nChannel, bool bKey, uint32_t nPayloadLen, uint64_t nTimeUs) {
  head[0] = static_cast<uint8_t>('0' + nChannel);
  memcpy(head + 1, bKey ? "0dc" : "1dc", 3);
  memcpy(head + 4, "H264", 4);
  PutLe(head + 8, nPayloadLen, 4);
  PutLe(head + 12, 0, 4);  // no extension; bytes 14-15 unused
  PutLe(head + 16, nTimeUs, 8);
}

void AppendH264Chunk(CFrameFileWriter& out, int32_t nChannel, bool bKey, uint64_t nTimeUs, const uint8_t* payload,
                     uint32_t nPayloadLen) {
  uint8_t head[24];
  WriteH264ChunkHead(head, nChannel, bKey, nPayloadLen, nTimeUs);
  out.Append(head, sizeof head);
  out.Append(payload, nPayloadLen);
}
