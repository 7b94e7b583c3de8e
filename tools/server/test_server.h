#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tools/server/device_registry.h"
#include "net/event_loop.h"
#include "tools/server/server.h"
#include "tools/server/server_options.h"
#include "tools/server/server_output.h"
#include "tools/server/stream_table.h"

// The server inside a test: its loop on a thread of its own, its lines kept
// instead of printed, and queries that run on the loop thread and wait for
// the answer. Start, Stop and the queries are called from one controlling
// thread (the test); the devices talk to it over real sockets.
class CTestServer {
 public:
  // Options for tests: 127.0.0.1, port 0 (the system picks one).
  static ServerOptions TestOptions();

  explicit CTestServer(const ServerOptions& opt = TestOptions());
  ~CTestServer();
  CTestServer(const CTestServer&) = delete;
  CTestServer& operator=(const CTestServer&) = delete;

  // Binds and starts the loop thread; false when the address cannot be bound.
  bool Start();
  // Stops the loop (the summary line is written) and waits for its thread.
  void Stop();

  uint16_t Port() const { return nPort; }
  std::string IpAndPort() const { return szIpAndPort; }

  // Runs a console line on the loop thread and returns its output lines.
  std::vector<std::string> Command(const std::string& line);
  ServerStats Stats();
  // Copies of a device's or stream's record; false when there is none.
  bool Device(const std::string& id, DeviceRecord* out);
  bool Stream(const std::string& name, StreamRecord* out);
  // Every line the server has written so far.
  std::vector<std::string> Lines() const { return output.Lines(); }
  // Number of lines containing part.
  int CountLines(const std::string& part) const;

 private:
  template <class F>
  auto OnLoop(F f) -> decltype(f());

  ServerOptions options;
  COutput output;
  CEventLoop loop;
  std::unique_ptr<CServer> server;
  std::thread worker;
  uint16_t nPort = 0;
  std::string szIpAndPort;
};
