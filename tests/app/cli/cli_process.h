#pragma once
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/support/temp_dir.h"
#include "tests/support/wait.h"

extern char** environ;

// A zel-cli process running from a copy of the executable in a temporary
// directory, so that its devset.txt, list.txt and gps.txt are the test's.
// Standard input is a pipe the test writes to; standard output and error go
// to out.txt and err.txt beside it.
class CCliProcess {
 public:
  explicit CCliProcess(const CTempDir& dir) : dir_(dir) {}
  ~CCliProcess() {
    CloseInput();
    if (pid_ > 0 && !bExited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  // Copies the executable and starts it with args; false when that failed.
  bool Start(const std::vector<std::string>& args) {
    std::string exe = dir_.File("zel-cli");
    if (!dir_.Write("zel-cli", ReadAll(std::string(ZEL_BIN_DIR) + "/zel-cli"))) return false;
    if (chmod(exe.c_str(), 0755) != 0) return false;
    int in[2];
    if (pipe2(in, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in[0], 0);
    posix_spawn_file_actions_addopen(&fa, 1, dir_.File("out.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&fa, 2, dir_.File("err.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> argv{exe.data()};
    std::vector<std::string> copy = args;
    for (std::string& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    int rc = posix_spawn(&pid_, exe.c_str(), &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    close(in[0]);
    input_ = in[1];
    return rc == 0;
  }

  bool Send(const std::string& text) {
    return input_ >= 0 && write(input_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  }
  void CloseInput() {
    if (input_ >= 0) close(input_);
    input_ = -1;
  }
  std::string Out() const { return dir_.Read("out.txt"); }
  std::string Err() const { return dir_.Read("err.txt"); }
  bool OutHas(const std::string& part) const { return Out().find(part) != std::string::npos; }
  void Signal(int sig) { kill(pid_, sig); }

  // True while the process has not ended.
  bool Running() {
    if (bExited_) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_) return true;
    bExited_ = true;
    nExit_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return false;
  }
  // Waits for the end; the exit status, or -1 when it did not end in time.
  int WaitExit(int timeoutMs) {
    if (!WaitUntil([&] { return !Running(); }, timeoutMs)) return -1;
    return nExit_;
  }

 private:
  static std::string ReadAll(const std::string& path) {
    std::string data;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return data;
    char buf[65536];
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) data.append(buf, static_cast<size_t>(n));
    close(fd);
    return data;
  }

  const CTempDir& dir_;
  pid_t pid_ = -1;
  int input_ = -1;
  bool bExited_ = false;
  int nExit_ = -1;
};
