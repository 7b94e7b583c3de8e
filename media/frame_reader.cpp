#include "media/frame_reader.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>

#include "platform/debug_log.h"

CFrameReader::CFrameReader(int32_t nOffsetLimitIn) : nOffsetLimit(nOffsetLimitIn < 0 ? 0 : nOffsetLimitIn) {}

CFrameReader::~CFrameReader() { Close(); }

bool CFrameReader::Open(const char* path) {
  Close();
  // O_NONBLOCK keeps a named pipe from blocking the open; such files are refused below.
  int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return false;
  }
  pWindow.reset(new (std::nothrow) uint8_t[FRAME_WINDOW_LEN]);
  if (!pWindow) {
    close(fd);
    return false;
  }
  nFd = fd;
  nPos = nAvail = nFileOffset = 0;
  bEof = bYielded = false;
  return true;
}

void CFrameReader::Close() {
  if (nFd >= 0) close(nFd);
  nFd = -1;
  pWindow.reset();
  nPos = nAvail = nFileOffset = 0;
  bEof = bYielded = false;
}

// Reads up to one window at the file offset. Anything short of a full window
// (end of file, a read error, a file truncated meanwhile, the offset limit)
// marks the end of the file.
void CFrameReader::ReadWindow() {
  int64_t want = int64_t{nOffsetLimit} - nFileOffset;
  if (want > FRAME_WINDOW_LEN) want = FRAME_WINDOW_LEN;
  if (want < 0) want = 0;
  int64_t got = 0;
  while (got < want) {
    ssize_t n = pread(nFd, pWindow.get() + got, static_cast<size_t>(want - got), nFileOffset + got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += n;
  }
  nPos = 0;
  nAvail = static_cast<int32_t>(got);
  bEof = got < FRAME_WINDOW_LEN;
}

int32_t CFrameReader::Next(FrameInfo* info, bool* restarted) {
  if (restarted) *restarted = false;
  if (nFd < 0) return CHUNK_IDLE;
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
  int32_t r = ParseFrame(pWindow.get() + nPos, nAvail, info);
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
