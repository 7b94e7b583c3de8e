// The zel-server executable: port 0 announced on standard output, commands on
// standard input, end of input not stopping it, quit and SIGTERM stopping it
// with exit code 0 and a summary line.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/exe_dir.h"
#include "tests/support/packet_client.h"

namespace {
constexpr int WAIT_MS = 5000;

// zel-server as a child with pipes on its standard input and output.
class CServerProcess {
 public:
  bool Start(const std::vector<std::string>& args) {
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) return false;
    std::string exe = GetExeDir() + "/zel-server";
    pid = fork();
    if (pid == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      close(in[0]), close(in[1]), close(out[0]), close(out[1]);
      std::vector<char*> argv{const_cast<char*>(exe.c_str())};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(exe.c_str(), argv.data());
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    toServer = in[1];
    fromServer = out[0];
    return pid > 0;
  }
  ~CServerProcess() {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    CloseInput();
    if (fromServer >= 0) close(fromServer);
  }
  void Send(const std::string& line) { (void)!write(toServer, line.data(), line.size()); }
  void CloseInput() {
    if (toServer >= 0) close(toServer);
    toServer = -1;
  }
  // The next line that contains part; false when none comes in time.
  bool WaitLine(const std::string& part, std::string* line) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(WAIT_MS);
    for (;;) {
      size_t nl;
      while ((nl = buf.find('\n')) != std::string::npos) {
        *line = buf.substr(0, nl);
        buf.erase(0, nl + 1);
        if (line->find(part) != std::string::npos) return true;
      }
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      pollfd p{fromServer, POLLIN, 0};
      if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
      char chunk[4096];
      ssize_t n = read(fromServer, chunk, sizeof chunk);
      if (n <= 0) return false;
      buf.append(chunk, static_cast<size_t>(n));
    }
  }
  // Exit code after the child ends, -1 when it does not end in time or ends abnormally.
  int WaitExit() {
    for (int i = 0; i < WAIT_MS / 10; i++) {
      int status = 0;
      if (waitpid(pid, &status, WNOHANG) == pid) {
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      usleep(10000);
    }
    return -1;
  }
  uint16_t PortFrom(const std::string& listening) {
    return static_cast<uint16_t>(atoi(listening.substr(listening.rfind(':') + 1).c_str()));
  }
  pid_t pid = -1;

 private:
  int toServer = -1;
  int fromServer = -1;
  std::string buf;
};

Json::Value Login(const std::string& id) {
  Json::Value m;
  m["SESSION"] = "";
  m["MODULE"] = "CERTIFICATE";
  m["OPERATION"] = "CONNECT";
  m["PARAMETER"]["DSNO"] = id;
  return m;
}
}  // namespace

TEST(ServerProcess, ConsoleOnStandardInputAndQuit) {
  CServerProcess srv;
  ASSERT_TRUE(srv.Start({"--listen", "127.0.0.1:0", "--stats", "1"}));
  std::string line;
  ASSERT_TRUE(srv.WaitLine("listening on 127.0.0.1:", &line));
  uint16_t port = srv.PortFrom(line);
  ASSERT_NE(port, 0);
  CPacketClient dev;
  ASSERT_TRUE(dev.Connect(port));
  ASSERT_TRUE(dev.SendJson(Login("P-1")));
  Json::Value answer;
  ASSERT_TRUE(dev.ReadJson(&answer, WAIT_MS));
  srv.Send("devices\n");
  ASSERT_TRUE(srv.WaitLine("P-1 online", &line));
  ASSERT_TRUE(srv.WaitLine("stats connections=1 devices=1 logged-in=1", &line));
  srv.Send("quit\n");
  ASSERT_TRUE(srv.WaitLine("summary ", &line));
  EXPECT_EQ(srv.WaitExit(), 0);
}

TEST(ServerProcess, EndOfInputKeepsServingAndSigtermStops) {
  CServerProcess srv;
  ASSERT_TRUE(srv.Start({"--listen", "127.0.0.1:0", "--quiet"}));
  std::string line;
  ASSERT_TRUE(srv.WaitLine("listening on", &line));
  uint16_t port = srv.PortFrom(line);
  srv.CloseInput();
  CPacketClient dev;
  ASSERT_TRUE(dev.Connect(port));
  ASSERT_TRUE(dev.SendJson(Login("P-2")));
  Json::Value answer;
  ASSERT_TRUE(dev.ReadJson(&answer, WAIT_MS));
  EXPECT_EQ(answer["OPERATION"], "CONNECT");
  kill(srv.pid, SIGTERM);
  ASSERT_TRUE(srv.WaitLine("summary ", &line));
  EXPECT_NE(line.find("logins=1"), std::string::npos) << line;
  EXPECT_EQ(srv.WaitExit(), 0);
}

TEST(ServerProcess, BadOptionsAreRefused) {
  CServerProcess srv;
  ASSERT_TRUE(srv.Start({"--listen", "nowhere"}));
  EXPECT_EQ(srv.WaitExit(), 2);
}
