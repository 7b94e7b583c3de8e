#include "tools/server/test_server.h"

#include <future>

ServerOptions CTestServer::TestOptions() {
  ServerOptions opt;
  opt.szListenIp = "127.0.0.1";
  opt.nPort = 0;
  return opt;
}

CTestServer::CTestServer(const ServerOptions& opt) : options(opt), output(false, opt.bQuiet) {}

CTestServer::~CTestServer() { Stop(); }

bool CTestServer::Start() {
  if (server) return false;
  server = std::make_unique<CServer>(loop, options, output);
  std::string error;
  if (!loop.Ok() || !server->Start(&error)) {
    output.Line("start failed: " + error);
    server.reset();
    return false;
  }
  nPort = server->Port();
  szIpAndPort = server->IpAndPort();
  server->SetQuitHandler([this] { loop.Quit(); });
  worker = std::thread([this] {
    loop.Run();
    server->Shutdown();
  });
  return true;
}

void CTestServer::Stop() {
  loop.Quit();
  if (worker.joinable()) worker.join();
  server.reset();
}

template <class F>
auto CTestServer::OnLoop(F f) -> decltype(f()) {
  using R = decltype(f());
  if (!server) return R{};
  if (!worker.joinable()) return f();
  std::promise<R> done;
  std::future<R> result = done.get_future();
  if (!loop.Post([&] { done.set_value(f()); })) {
    worker.join();  // the loop has ended (quit): nothing else touches the server now
    return f();
  }
  return result.get();
}

std::vector<std::string> CTestServer::Command(const std::string& line) {
  return OnLoop([&] { return server->Execute(line); });
}

ServerStats CTestServer::Stats() {
  return OnLoop([&] { return server->Stats(); });
}

bool CTestServer::Device(const std::string& id, DeviceRecord* out) {
  return OnLoop([&] {
    const DeviceRecord* rec = server->FindDevice(id);
    if (rec) *out = *rec;
    return rec != nullptr;
  });
}

bool CTestServer::Stream(const std::string& name, StreamRecord* out) {
  return OnLoop([&] {
    const StreamRecord* rec = server->FindStream(name);
    if (rec) *out = *rec;
    return rec != nullptr;
  });
}

int CTestServer::CountLines(const std::string& part) const {
  int n = 0;
  for (const std::string& l : output.Lines()) n += l.find(part) != std::string::npos;
  return n;
}
