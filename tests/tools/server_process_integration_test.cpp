// The zel-server executable: port 0 announced on standard output, commands on
// standard input, end of input not stopping it, quit and SIGTERM stopping it
// with exit code 0 and a summary line.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/exe_dir.h"
#include "tests/support/packet_client.h"
#include "tests/support/plain_client.h"

namespace {
constexpr int WAIT_MS = 5000;

std::string ReadText(const std::string& path) {
  std::ifstream f(path);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

void WriteText(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

// The body of GET path on 127.0.0.1:port (the whole answer when it is not 200).
std::string HttpGet(uint16_t port, const std::string& path) {
  CPlainClient c;
  if (!c.Connect(port)) return "";
  std::string req = "GET " + path + " HTTP/1.1\r\nHost: x\r\n\r\n";
  if (!c.SendAll(Bytes(req.begin(), req.end()))) return "";
  Bytes got;
  while (c.RecvSome(WAIT_MS, &got) > 0) {
  }
  std::string text(got.begin(), got.end());
  size_t body = text.find("\r\n\r\n");
  if (text.rfind("HTTP/1.1 200", 0) != 0 || body == std::string::npos) return text;
  return text.substr(body + 4);
}

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
  char dir[] = "/tmp/zel-srv-stats-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string csv = std::string(dir) + "/stats.csv";
  CServerProcess srv;
  ASSERT_TRUE(srv.Start({"--listen", "127.0.0.1:0", "--stats", "1", "--stats-file=" + csv, "--metrics", "0"}));
  std::string line;
  ASSERT_TRUE(srv.WaitLine("listening on 127.0.0.1:", &line));
  uint16_t port = srv.PortFrom(line);
  ASSERT_NE(port, 0);
  ASSERT_TRUE(srv.WaitLine("metrics on http://127.0.0.1:", &line));
  uint16_t metricsPort = static_cast<uint16_t>(atoi(line.c_str() + line.rfind(':') + 1));
  CPacketClient dev;
  ASSERT_TRUE(dev.Connect(port));
  ASSERT_TRUE(dev.SendJson(Login("P-1")));
  Json::Value answer;
  ASSERT_TRUE(dev.ReadJson(&answer, WAIT_MS));
  srv.Send("devices\n");
  ASSERT_TRUE(srv.WaitLine("P-1 online", &line));
  ASSERT_TRUE(srv.WaitLine("Z connections=1 devices=1 logged_in=1 ", &line));
  EXPECT_NE(line.find(" logins=1 logins/s="), std::string::npos) << line;

  // The same figures as CSV: a header row, then one row per interval.
  std::string rows = ReadText(csv);
  EXPECT_EQ(rows.rfind("time,connections,devices,logged_in,streams_open,accepted,accepted_per_s,logins,logins_per_s,", 0),
            0u) << rows;
  EXPECT_NE(rows.find("Z,1,1,1,0,1,"), std::string::npos) << rows;

  // A scrape in the Prometheus text format, checked by promtool where it is installed.
  std::string body = HttpGet(metricsPort, "/metrics");
  EXPECT_NE(body.find("\nzel_server_logins_total 1\n"), std::string::npos) << body;
  EXPECT_NE(body.find("# TYPE zel_server_connections gauge\n"), std::string::npos) << body;
  if (system("command -v promtool >/dev/null 2>&1") == 0) {
    std::string scrape = std::string(dir) + "/scrape.txt";
    WriteText(scrape, body);
    EXPECT_EQ(system(("promtool check metrics < " + scrape + " >/dev/null 2>&1").c_str()), 0) << body;
  }
  EXPECT_EQ(HttpGet(metricsPort, "/other").rfind("HTTP/1.1 404", 0), 0u);
  srv.Send("quit\n");
  ASSERT_TRUE(srv.WaitLine("summary ", &line));
  EXPECT_EQ(srv.WaitExit(), 0);
  std::filesystem::remove_all(dir);
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

// --login-delay holds each CONNECT answer on a timer: the answer comes no
// sooner than the hold, the event line says how long it was held, and a
// held answer is never sent on a connection that closed or no longer speaks
// for its device, while the server goes on serving.
TEST(ServerProcess, LoginDelayHoldsAnswers) {
  for (const char* bad : {"--login-delay=150:200", "--login-delay=150ms", "--stream-delay=-5"}) {
    CServerProcess refused;
    ASSERT_TRUE(refused.Start({"--listen", "127.0.0.1:0", bad}));
    EXPECT_EQ(refused.WaitExit(), 2) << bad;
  }
  constexpr int HOLD_MS = 150;
  CServerProcess srv;
  ASSERT_TRUE(srv.Start({"--listen", "127.0.0.1:0", "--login-delay", std::to_string(HOLD_MS)}));
  std::string line;
  ASSERT_TRUE(srv.WaitLine("listening on", &line));
  uint16_t port = srv.PortFrom(line);

  CPacketClient dev;
  ASSERT_TRUE(dev.Connect(port));
  auto sent = std::chrono::steady_clock::now();
  ASSERT_TRUE(dev.SendJson(Login("D-1")));
  Json::Value answer;
  ASSERT_TRUE(dev.ReadJson(&answer, WAIT_MS));
  auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - sent);
  EXPECT_EQ(answer["OPERATION"], "CONNECT");
  EXPECT_GE(waited.count(), HOLD_MS);
  ASSERT_TRUE(srv.WaitLine("login D-1 from", &line));
  size_t at = line.find("(answer held ");
  ASSERT_NE(at, std::string::npos) << line;
  EXPECT_GE(atoi(line.c_str() + at + 13), HOLD_MS) << line;

  // Closed (half: it still reads) while its answer is held: nothing comes.
  CPlainClient gone;
  ASSERT_TRUE(gone.Connect(port));
  ASSERT_TRUE(gone.SendAll(BuildJsonPacket(Login("D-2"))));
  shutdown(gone.Fd(), SHUT_WR);
  Bytes got;
  EXPECT_EQ(gone.RecvSome(WAIT_MS, &got), 0);
  EXPECT_TRUE(got.empty());

  // Logged in again elsewhere while held: only the newer connection is answered.
  CPacketClient first, second;
  ASSERT_TRUE(first.Connect(port) && second.Connect(port));
  ASSERT_TRUE(first.SendJson(Login("D-3")));
  bool bArrived = false;  // the first CONNECT is counted before the second is sent
  for (int i = 0; i < 100 && !bArrived; i++) {
    srv.Send("stats\n");
    bArrived = srv.WaitLine(" logins=", &line) && line.find(" logins=3 ") != std::string::npos;
  }
  ASSERT_TRUE(bArrived) << line;
  ASSERT_TRUE(second.SendJson(Login("D-3")));
  ASSERT_TRUE(second.ReadJson(&answer, WAIT_MS));
  EXPECT_EQ(answer["OPERATION"], "CONNECT");
  EXPECT_FALSE(first.ReadJson(&answer, 2 * HOLD_MS));

  srv.Send("stats\n");
  ASSERT_TRUE(srv.WaitLine(" logins=4 ", &line));
  EXPECT_NE(line.find(" logged_in=2 "), std::string::npos) << line;
  EXPECT_NE(line.find(" answers_held=2 "), std::string::npos) << line;
  srv.Send("quit\n");
  EXPECT_EQ(srv.WaitExit(), 0);
}
