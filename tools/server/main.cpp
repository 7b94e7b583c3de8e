// zel-server: a Register Server for tests and demos.
#include <signal.h>
#include <sys/epoll.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "app/cli/command_line.h"
#include "platform/process_init.h"
#include "tools/server/console_reader.h"
#include "net/event_loop.h"
#include "tools/server/server.h"
#include "tools/server/server_options.h"
#include "tools/server/server_output.h"

namespace {
// SIGINT and SIGTERM arrive through a descriptor the loop watches, so the
// server stops between two events and prints its summary.
int BlockStopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  return signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
}
}  // namespace

int main(int argc, char** argv) {
  ServerOptions opt;
  CLI::App app("", "zel-server");
  DefineServerOptions(app, &opt);
  int status = ParseCommandLine(app, argc, argv);
  if (status >= 0) return status;
  std::string error;
  ProcessStartup();
  int sigFd = BlockStopSignals();  // before any thread starts, so all inherit the mask
  CEventLoop loop;
  COutput out(true, opt.bQuiet);
  CServer server(loop, opt, out);
  if (!loop.Ok() || sigFd < 0 || !server.Start(&error)) {
    fprintf(stderr, "zel-server: %s\n", error.empty() ? "cannot create the event loop" : error.c_str());
    return 1;
  }
  loop.Watch(sigFd, EPOLLIN, [&](uint32_t) {
    signalfd_siginfo info;
    while (read(sigFd, &info, sizeof info) > 0) {
    }
    loop.Quit();
  });
  server.SetQuitHandler([&] { loop.Quit(); });
  CConsoleReader console;
  console.Start(STDIN_FILENO, [&](const std::string& line) {
    loop.Post([&server, line] { server.Execute(line); });
  });
  loop.Run();
  server.Shutdown();
  console.Stop();
  close(sigFd);
  return 0;
}
