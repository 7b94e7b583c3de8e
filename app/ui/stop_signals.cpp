#include "app/ui/stop_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>

namespace {

int gStopPipe[2] = {-1, -1};
struct sigaction gOldInt {};
struct sigaction gOldTerm {};

// Only wakes the GUI thread; everything else happens there.
void OnStopSignal(int) {
  int saved = errno;
  if (write(gStopPipe[1], "s", 1) < 0) {
  }
  errno = saved;
}

bool InstallHandlers() {
  struct sigaction sa {};
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  return sigaction(SIGINT, &sa, &gOldInt) == 0 && sigaction(SIGTERM, &sa, &gOldTerm) == 0;
}

}  // namespace

CStopSignals::CStopSignals(std::function<void()> onStop, QObject* parent)
    : QObject(parent), fnStop(std::move(onStop)) {
  if (gStopPipe[0] >= 0 || pipe2(gStopPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  pNotifier = new QSocketNotifier(gStopPipe[0], QSocketNotifier::Read, this);
  connect(pNotifier, &QSocketNotifier::activated, this, &CStopSignals::OnReadable);
  bInstalled = InstallHandlers();
}

CStopSignals::~CStopSignals() {
  if (!pNotifier) return;
  sigaction(SIGINT, &gOldInt, nullptr);
  sigaction(SIGTERM, &gOldTerm, nullptr);
  delete pNotifier;
  close(gStopPipe[0]);
  close(gStopPipe[1]);
  gStopPipe[0] = gStopPipe[1] = -1;
}

void CStopSignals::OnReadable() {
  char buf[64];
  while (read(gStopPipe[0], buf, sizeof buf) > 0) {
  }
  if (fnStop) fnStop();
}
