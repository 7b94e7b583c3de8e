#include "tools/server/console_reader.h"

#include <errno.h>
#include <poll.h>
#include <unistd.h>

void TakeLines(std::string& buf, const std::function<void(const std::string&)>& onLine) {
  size_t start = 0;
  for (size_t nl; (nl = buf.find('\n', start)) != std::string::npos; start = nl + 1) {
    size_t end = nl;
    if (end > start && buf[end - 1] == '\r') end--;
    onLine(buf.substr(start, end - start));
  }
  buf.erase(0, start);
}

void CConsoleReader::Start(int fd, LineFn onLine) {
  fn = std::move(onLine);
  bStop.store(0);
  worker = std::thread([this, fd] { Run(fd); });
}

void CConsoleReader::Stop() {
  bStop.store(1);
  if (worker.joinable()) worker.join();
}

void CConsoleReader::Run(int fd) {
  std::string buf;
  char chunk[4096];
  while (!bStop.load()) {
    pollfd p{fd, POLLIN, 0};
    int r = poll(&p, 1, 200);
    if (r < 0 && errno != EINTR) return;
    if (r <= 0) continue;
    ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) break;  // end of input: the server carries on without a console
    buf.append(chunk, static_cast<size_t>(n));
    TakeLines(buf, fn);
    if (buf.size() > CONSOLE_MAX_LINE) buf.clear();
  }
  if (!buf.empty() && !bStop.load()) fn(buf);  // a last line without a line feed
}
