#include "app/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

namespace {

// Reads until nLimit bytes or the end of the file; false on a read error.
bool ReadUpTo(int fd, size_t nLimit, std::string& out) {
  out.resize(nLimit);
  size_t got = 0;
  while (got < nLimit) {
    ssize_t n = read(fd, out.data() + got, nLimit - got);
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

bool ReadFileLimited(const std::string& path, size_t nLimit, std::string& out) {
  out.clear();
  // O_NONBLOCK so that opening a FIFO cannot hang; regular files ignore it.
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ReadUpTo(fd, nLimit, out);
  close(fd);
  return ok;
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
