#include "media/frame_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <map>
#include <mutex>
#include <new>
#include <string>

namespace {

struct FileIdentity {
  dev_t nDev = 0;
  ino_t nIno = 0;
  off_t nSize = 0;
  int64_t nChangeNs = 0;
  bool operator==(const FileIdentity&) const = default;
};

struct CachedFile {
  FileIdentity id;
  std::weak_ptr<const FrameFileBytes> bytes;
};

std::mutex g_lock;
std::map<std::string, CachedFile> g_files;  // guarded by g_lock

FileIdentity IdentityOf(const struct stat& st) {
  FileIdentity id;
  id.nDev = st.st_dev;
  id.nIno = st.st_ino;
  id.nSize = st.st_size;
  id.nChangeNs = int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
  return id;
}

// Reads up to limit bytes; a short read is the end of the file.
std::shared_ptr<FrameFileBytes> ReadAll(int fd, off_t size) {
  auto bytes = std::make_shared<FrameFileBytes>();
  size_t want = static_cast<size_t>(size < INT32_MAX ? size : INT32_MAX);
  try {
    bytes->data.resize(want);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  size_t got = 0;
  while (got < want) {
    ssize_t n = pread(fd, bytes->data.data() + got, want - got, static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  bytes->data.resize(got);
  bytes->data.shrink_to_fit();
  return bytes;
}

void ForgetUnused() {
  for (auto it = g_files.begin(); it != g_files.end();) {
    it = it->second.bytes.expired() ? g_files.erase(it) : std::next(it);
  }
}

}  // namespace

std::shared_ptr<const FrameFileBytes> LoadFrameFile(const char* path) {
  if (!path) return nullptr;
  // O_NONBLOCK keeps a named pipe from blocking the open; such files are refused below.
  int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return nullptr;
  }
  const FileIdentity id = IdentityOf(st);
  std::lock_guard<std::mutex> lock(g_lock);
  CachedFile& entry = g_files[path];
  std::shared_ptr<const FrameFileBytes> bytes = entry.bytes.lock();
  if (!bytes || !(entry.id == id)) {
    bytes = ReadAll(fd, st.st_size);
    if (bytes) {
      entry.id = id;
      entry.bytes = bytes;
    }
  }
  close(fd);
  ForgetUnused();
  return bytes;
}
