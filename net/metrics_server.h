#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "net/event_loop.h"

// A small HTTP endpoint for a Prometheus server: GET /metrics answers with
// the provider's text (the Prometheus text format); any other path gets 404.
// Every connection is closed after its answer, and one that sends no whole
// request within 5 s, or more than 8 KiB of it, is closed unanswered. It runs
// on an event loop: its own (Start) or the caller's (Attach), so nothing of it
// ever waits on a thread that serves something else.
class CMetricsServer {
 public:
  // The body of an answer. Runs on the metrics loop's thread.
  using Provider = std::function<std::string()>;

  CMetricsServer() = default;
  ~CMetricsServer();
  CMetricsServer(const CMetricsServer&) = delete;
  CMetricsServer& operator=(const CMetricsServer&) = delete;

  // "HOST:PORT" with a dotted IPv4 host, or "PORT" alone for 127.0.0.1.
  static bool ParseAddress(const std::string& text, std::string* host, uint16_t* port, std::string* why);

  // Listens on hostPort and serves from a thread and loop of its own. False
  // with the reason in *why. Any thread.
  bool Start(const std::string& hostPort, Provider provider, std::string* why);
  // Listens on hostPort and serves on loop, which the caller runs. Call on
  // the loop's thread or before it runs.
  bool Attach(CEventLoop& loop, const std::string& hostPort, Provider provider, std::string* why);
  // Stops serving (Start's thread ends); the port is free afterwards. The
  // thread that called Start or Attach.
  void Stop();
  uint16_t Port() const { return nPort; }

 private:
  struct Client {
    int fd = -1;
    std::string in;
    std::string out;
    uint64_t nTimer = 0;
  };
  bool Listen(const std::string& hostPort, std::string* why);
  void OnAcceptable();
  void OnClient(int fd, uint32_t events);
  void Answer(Client& c);
  void CloseClient(int fd);

  CEventLoop* pLoop = nullptr;
  std::unique_ptr<CEventLoop> ownLoop;
  std::thread thread;
  Provider provider;
  int nListenFd = -1;
  uint16_t nPort = 0;
  std::map<int, Client> clients;  // loop thread
};
