#pragma once
// zel-server as a child process for the end-to-end tests: standard input is a
// pipe the test writes commands to, standard output goes to a file.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/support/temp_dir.h"
#include "tests/support/wait.h"

extern char** environ;

class CServerProcess {
 public:
  explicit CServerProcess(const CTempDir& dir) : dir_(dir) {}
  ~CServerProcess() {
    if (input_ >= 0) close(input_);
    if (pid_ > 0 && !bExited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  // Starts zel-server on 127.0.0.1 with a port of the system's choice and
  // waits for it to announce the port.
  bool Start(const std::vector<std::string>& extra) {
    std::string exe = std::string(ZEL_BIN_DIR) + "/zel-server";
    int in[2];
    if (pipe2(in, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in[0], 0);
    posix_spawn_file_actions_addopen(&fa, 1, dir_.File("server.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&fa, 2, dir_.File("server.err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> args{exe, "--listen", "127.0.0.1:0"};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int rc = posix_spawn(&pid_, exe.c_str(), &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    close(in[0]);
    input_ = in[1];
    if (rc != 0) return false;
    return WaitUntil([&] { return ReadPort(); }, 10000);
  }

  uint16_t Port() const { return port_; }
  std::string Reg() const { return "127.0.0.1:" + std::to_string(port_); }
  std::string Out() const { return dir_.Read("server.out"); }
  bool OutHas(const std::string& part) const { return Out().find(part) != std::string::npos; }
  bool WaitOut(const std::string& part, int timeoutMs) const {
    return WaitUntil([&] { return OutHas(part); }, timeoutMs);
  }
  bool Command(const std::string& line) {
    std::string text = line + "\n";
    return input_ >= 0 && write(input_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  }
  // Sends quit and waits for the exit status (-1 when it did not end in time).
  int Quit(int timeoutMs) {
    Command("quit");
    if (!WaitUntil([&] { return Exited(); }, timeoutMs)) return -1;
    return nExit_;
  }

 private:
  bool ReadPort() {
    std::string out = Out();
    const std::string mark = "listening on 127.0.0.1:";
    size_t at = out.find(mark);
    if (at == std::string::npos || out.find('\n', at) == std::string::npos) return false;
    port_ = static_cast<uint16_t>(std::stoi(out.substr(at + mark.size())));
    return port_ != 0;
  }
  bool Exited() {
    if (bExited_) return true;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_) return false;
    bExited_ = true;
    nExit_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return true;
  }

  const CTempDir& dir_;
  pid_t pid_ = -1;
  int input_ = -1;
  uint16_t port_ = 0;
  bool bExited_ = false;
  int nExit_ = -1;
};
