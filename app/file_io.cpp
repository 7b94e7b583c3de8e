#include "app/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// Reads until nWant bytes or the end of the file; false on a read error. The
// buffer starts at the size the file had and grows only if it grows.
bool ReadUpTo(int fd, size_t nWant, size_t nSizeHint, std::string& out) {
  size_t got = 0;
  out.resize(std::min(nWant, std::max<size_t>(nSizeHint, 4096)));
  while (got < nWant) {
    if (got == out.size()) out.resize(std::min(nWant, out.size() * 2));
    ssize_t n = read(fd, out.data() + got, out.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      out.clear();
      return false;
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  out.resize(got);
  return true;
}

void SetWhy(std::string* pWhy, const std::string& text) {
  if (pWhy) *pWhy = text;
}

bool WriteAll(int fd, const char* data, size_t len) {
  while (len > 0) {
    ssize_t n = write(fd, data, len);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    len -= static_cast<size_t>(n);
  }
  return true;
}

// Creates a fresh temporary file next to path: "<path>.<pid>.<n>.tmp".
// O_EXCL keeps two writers (two processes sharing the folder) apart.
int CreateTempBeside(const std::string& path, std::string& tmpPath) {
  static std::atomic<unsigned> nCounter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    tmpPath = path + "." + std::to_string(getpid()) + "." +
              std::to_string(nCounter.fetch_add(1, std::memory_order_relaxed)) + ".tmp";
    int fd = open(tmpPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// Makes the rename itself durable; a failure here loses nothing written.
void SyncDirectoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
  int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

}  // namespace

int ReadFileLimited(const std::string& path, size_t nLimit, std::string& out, bool* pCut, std::string* pWhy) {
  out.clear();
  if (pCut) *pCut = false;
  // O_NONBLOCK so that opening a FIFO cannot hang; regular files ignore it.
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return FILE_READ_MISSING;
    SetWhy(pWhy, strerror(errno));
    return FILE_READ_UNREADABLE;
  }
  struct stat st {};
  int result = FILE_READ_OK;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    SetWhy(pWhy, "not a regular file");
    result = FILE_READ_UNREADABLE;
  } else if (!ReadUpTo(fd, nLimit + 1, static_cast<size_t>(st.st_size) + 1, out)) {
    SetWhy(pWhy, strerror(errno));
    result = FILE_READ_UNREADABLE;
  } else if (out.size() > nLimit) {
    out.resize(nLimit);
    if (pCut) *pCut = true;
  }
  close(fd);
  return result;
}

bool SetFileAside(const std::string& path, std::string* pNewPath, std::string* pWhy) {
  for (int n = 1; n <= 99; ++n) {
    std::string target = path + ".bad" + (n == 1 ? std::string() : "." + std::to_string(n));
    if (renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
      *pNewPath = target;
      return true;
    }
    if (errno != EEXIST) {
      *pWhy = strerror(errno);
      return false;
    }
  }
  *pWhy = "every name up to " + path + ".bad.99 is taken";
  return false;
}

bool ReplaceFile(const std::string& path, const char* data, size_t len) {
  std::string tmpPath;
  int fd = CreateTempBeside(path, tmpPath);
  if (fd < 0) return false;
  struct stat st {};
  if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) fchmod(fd, st.st_mode & 07777);
  bool ok = WriteAll(fd, data, len) && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  if (ok) ok = rename(tmpPath.c_str(), path.c_str()) == 0;
  if (!ok) {
    unlink(tmpPath.c_str());
    return false;
  }
  SyncDirectoryOf(path);
  return true;
}
