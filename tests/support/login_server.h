#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A loopback register server for fleet tests: listens on 127.0.0.1 with a
// port of the system's choice, accepts any number of connections, cuts what
// arrives into signalling packets, records their texts and answers every
// CONNECT with a CONNECT reply (when answering is on). One thread serves all
// connections; everything ends with the object.
class CLoginServer {
 public:
  explicit CLoginServer(bool bAnswer = true);
  ~CLoginServer();
  CLoginServer(const CLoginServer&) = delete;
  CLoginServer& operator=(const CLoginServer&) = delete;

  uint16_t Port() const { return port_; }
  // "127.0.0.1:<port>", the REG text that reaches this server.
  std::string Reg() const { return "127.0.0.1:" + std::to_string(port_); }
  int32_t Accepted() const { return accepted_.load(); }
  // Every JSON text received so far (without its NUL), in arrival order.
  std::vector<std::string> Texts() const;
  // Number of received texts that contain part.
  int32_t CountContaining(const std::string& part) const;
  // Waits until at least n received texts contain part.
  bool WaitForCount(const std::string& part, int32_t n, int timeoutMs) const;

 private:
  struct Client {
    int fd = -1;
    std::string buffer;
  };
  void Run();
  void Accept();
  bool Serve(Client& c);  // false: the connection is over
  void OnPacket(Client& c, const std::string& text);

  bool bAnswer_;
  int listenFd_ = -1;
  int wakePipe_[2] = {-1, -1};
  uint16_t port_ = 0;
  std::atomic<int32_t> accepted_{0};
  std::vector<Client> clients_;  // server thread only
  mutable std::mutex textsLock_;
  std::vector<std::string> texts_;
  std::thread thread_;
};
