#include "media/frame_reader.h"

#include "platform/debug_log.h"

CFrameReader::CFrameReader(int32_t nOffsetLimitIn) : nOffsetLimit(nOffsetLimitIn < 0 ? 0 : nOffsetLimitIn) {}

CFrameReader::~CFrameReader() { Close(); }

bool CFrameReader::Open(const char* path) {
  Close();
  pFile = LoadFrameFile(path);
  return pFile != nullptr;
}

void CFrameReader::Close() {
  pFile.reset();
  pWindow = nullptr;
  nPos = nAvail = nFileOffset = 0;
  bEof = bYielded = false;
}

// Looks at up to one window from the file offset. Anything short of a full
// window (the end of the file, the offset limit) marks the end of the file.
void CFrameReader::ReadWindow() {
  int64_t visible = static_cast<int64_t>(pFile->data.size());
  if (visible > nOffsetLimit) visible = nOffsetLimit;
  int64_t got = visible - nFileOffset;
  if (got > FRAME_WINDOW_LEN) got = FRAME_WINDOW_LEN;
  if (got < 0) got = 0;
  pWindow = pFile->data.data() + (got > 0 ? nFileOffset : 0);
  nPos = 0;
  nAvail = static_cast<int32_t>(got);
  bEof = got < FRAME_WINDOW_LEN;
}
int32_t CFrameReader::Next(FrameInfo* info, bool* restarted) {
  if (restarted) *restarted = false;
  if (!pFile) return CHUNK_IDLE;
  if (nAvail < FRAME_MIN_AVAIL) {
    if (bEof) {
      OutputDebugLine("dev - seek to file begin.");
      bEof = false;
      nFileOffset = 0;
      nAvail = 0;
      if (restarted) *restarted = true;
      bool bIdle = !bYielded;
      bYielded = false;
      if (bIdle) return CHUNK_IDLE;  // the window is read on the next call
    }
    ReadWindow();
  }
  int32_t r = ParseFrame(pWindow + nPos, nAvail, info);
  if (r == CHUNK_SKIP) {
    ++nPos;
    ++nFileOffset;
    --nAvail;
  } else if (r == CHUNK_MORE) {
    nAvail = 0;
  } else {
    bYielded = true;
  }
  return r;
}

void CFrameReader::Consume(const FrameInfo& info) {
  if (info.nTotalLen <= 0 || info.nTotalLen > nAvail) return;
  nPos += info.nTotalLen;
  nFileOffset += info.nTotalLen;
  nAvail -= info.nTotalLen;
}
