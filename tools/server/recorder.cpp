#include "tools/server/recorder.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

std::string SafeFileName(const std::string& name) {
  std::string out;
  for (char c : name.substr(0, 100)) {
    bool bOk = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
               c == '_' || c == '.';
    out.push_back(bOk ? c : '_');
  }
  if (out.empty() || out[0] == '.') out.insert(out.begin(), '_');
  return out;
}

bool CRecorder::PrepareDir(std::string* error) const {
  if (mkdir(szDir.c_str(), 0755) != 0 && errno != EEXIST) {
    *error = "cannot create " + szDir + ": " + strerror(errno);
    return false;
  }
  struct stat st {};
  if (stat(szDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || access(szDir.c_str(), W_OK) != 0) {
    *error = szDir + " is not a writable directory";
    return false;
  }
  return true;
}

std::string CRecorder::PathOf(const std::string& stream, int32_t channel) const {
  return szDir + "/" + SafeFileName(stream) + "-ch" + std::to_string(channel) + ".h264";
}

namespace {
bool WriteAll(int fd, const uint8_t* p, size_t n) {
  while (n > 0) {
    ssize_t w = write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}
}  // namespace

bool CRecorder::Append(const std::string& stream, int32_t channel, const uint8_t* p, size_t n, std::string* error) {
  Key key{stream, channel};
  if (failed.count(key)) return false;
  auto it = files.find(key);
  if (it == files.end()) {
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (started.count(key) ? O_APPEND : O_TRUNC);
    int fd = open(PathOf(stream, channel).c_str(), flags, 0644);
    if (fd < 0) {
      failed.insert(key);
      *error = "cannot open " + PathOf(stream, channel) + ": " + strerror(errno);
      return false;
    }
    started.insert(key);
    it = files.emplace(key, fd).first;
  }
  if (WriteAll(it->second, p, n)) return true;
  failed.insert(key);
  *error = "cannot write " + PathOf(stream, channel) + ": " + strerror(errno);
  close(it->second);
  files.erase(it);
  return false;
}

void CRecorder::CloseStream(const std::string& stream) {
  for (auto it = files.begin(); it != files.end();) {
    if (it->first.first == stream) {
      close(it->second);
      it = files.erase(it);
    } else {
      ++it;
    }
  }
}

void CRecorder::CloseAll() {
  for (auto& kv : files) close(kv.second);
  files.clear();
}
