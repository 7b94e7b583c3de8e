// CTestServer's life, console and log: queries and waits. The switches and
// actions are in test_server_faults.cpp.
#include "tools/server/test_server.h"

#include <chrono>

#include "tools/server/server.h"

ServerOptions CTestServer::TestOptions() {
  ServerOptions opt;
  opt.szListenIp = "127.0.0.1";
  opt.nPort = 0;
  return opt;
}

CTestServer::CTestServer(const ServerOptions& opt) : options(opt), output(false, opt.bQuiet) {
  switches.bAnswerConnect = !opt.bNoLoginAnswer;
  log.SetChangeHandler([this] { Changed(); });
}

CTestServer::~CTestServer() { Stop(); }

bool CTestServer::Start() {
  if (server) return false;
  loop = std::make_unique<CEventLoop>();
  log.Clear();
  server = std::make_unique<CServer>(*loop, options, output);
  server->Switches() = switches;
  server->SetPacketLog(&log);
  std::string error;
  if (!loop->Ok() || !server->Start(&error)) {
    output.Line("start failed: " + error);
    server.reset();
    return false;
  }
  nPort = server->Port();
  szIpAndPort = server->IpAndPort();
  server->SetQuitHandler([this] { loop->Quit(); });
  std::promise<void> done;
  finished = done.get_future().share();
  worker = std::thread([this, done = std::move(done)]() mutable {
    loop->Run();
    server->Shutdown();
    done.set_value();
  });
  return true;
}

void CTestServer::Stop() {
  if (loop) loop->Quit();
  if (worker.joinable()) worker.join();
  server.reset();
}

// Runs on the loop thread (and on the worker as the server shuts down).
void CTestServer::Changed() {
  std::lock_guard<std::mutex> lock(changeLock);
  ++nChanges;
  changed.notify_all();
}

// Looks at cond on the loop thread after every logged event until it holds.
bool CTestServer::WaitOnLoop(const std::function<bool()>& cond, int timeoutMs) const {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    uint64_t seen;
    {
      std::lock_guard<std::mutex> lock(changeLock);
      seen = nChanges;
    }
    if (OnLoop(cond)) return true;
    std::unique_lock<std::mutex> lock(changeLock);
    if (!changed.wait_until(lock, deadline, [&] { return nChanges != seen; })) return false;
  }
}

std::vector<std::string> CTestServer::Command(const std::string& line) {
  return OnLoop([&] { return server ? server->Execute(line) : std::vector<std::string>{}; });
}

ServerStats CTestServer::Stats() const {
  return OnLoop([&] { return server ? server->Stats() : ServerStats{}; });
}

bool CTestServer::Device(const std::string& id, DeviceRecord* out) const {
  return OnLoop([&] {
    const DeviceRecord* rec = server ? server->FindDevice(id) : nullptr;
    if (rec) *out = *rec;
    return rec != nullptr;
  });
}

bool CTestServer::Stream(const std::string& name, StreamRecord* out) const {
  return OnLoop([&] {
    const StreamRecord* rec = server ? server->FindStream(name) : nullptr;
    if (rec) *out = *rec;
    return rec != nullptr;
  });
}

int CTestServer::CountLines(const std::string& part) const {
  int n = 0;
  for (const std::string& l : output.Lines()) n += l.find(part) != std::string::npos;
  return n;
}

std::vector<CapturedPacket> CTestServer::Packets(int32_t nConn) const {
  return OnLoop([&] { return log.Packets(nConn); });
}

std::vector<std::string> CTestServer::Operations(int32_t nConn) const {
  return OnLoop([&] { return log.Operations(nConn); });
}

bool CTestServer::Connection(int32_t nConn, ConnInfo* out) const {
  return OnLoop([&] {
    const ConnInfo* info = log.Connection(nConn);
    if (info) *out = *info;
    return info != nullptr;
  });
}

int32_t CTestServer::ConnectionCount() const {
  return OnLoop([&] { return log.ConnectionCount(); });
}

int32_t CTestServer::OperationCount(int32_t nConn, const std::string& op) const {
  return OnLoop([&] { return log.OperationCount(nConn, op); });
}

int32_t CTestServer::FindDeviceConnection(const std::string& dsno) const {
  return OnLoop([&] { return log.FindNewest(CONN_SIGNAL, dsno); });
}

int32_t CTestServer::FindStreamConnection(const std::string& streamName) const {
  return OnLoop([&] { return log.FindNewest(CONN_MEDIA, streamName); });
}

bool CTestServer::WaitForConnections(int32_t n, int timeoutMs) const {
  return WaitOnLoop([&] { return log.ConnectionCount() >= n; }, timeoutMs);
}

bool CTestServer::WaitForPacket(const std::function<bool(const CapturedPacket&)>& pred, int timeoutMs,
                                CapturedPacket* out) const {
  size_t next = 0;
  return WaitOnLoop([&] { return log.FindPacket(pred, &next, out); }, timeoutMs);
}

bool CTestServer::WaitForOperation(int32_t nConn, const std::string& op, int32_t count, int timeoutMs) const {
  return WaitOnLoop([&] { return log.OperationCount(nConn, op) >= count; }, timeoutMs);
}

bool CTestServer::WaitForClosed(int32_t nConn, int timeoutMs) const {
  return WaitOnLoop(
      [&] {
        const ConnInfo* info = log.Connection(nConn);
        return info && !info->bOpen;
      },
      timeoutMs);
}

bool CTestServer::WaitForBytes(int32_t nConn, int64_t nBytes, int timeoutMs) const {
  return WaitOnLoop(
      [&] {
        const ConnInfo* info = log.Connection(nConn);
        return info && info->nBytesIn >= nBytes;
      },
      timeoutMs);
}

int32_t CTestServer::WaitForDevice(const std::string& dsno, int timeoutMs) const {
  int32_t id = -1;
  WaitOnLoop([&] { return (id = log.FindNewest(CONN_SIGNAL, dsno)) >= 0; }, timeoutMs);
  return id;
}

int32_t CTestServer::WaitForStream(const std::string& streamName, int timeoutMs) const {
  int32_t id = -1;
  WaitOnLoop([&] { return (id = log.FindNewest(CONN_MEDIA, streamName)) >= 0; }, timeoutMs);
  return id;
}
