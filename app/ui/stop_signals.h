#pragma once
#include <QObject>
#include <functional>

class QSocketNotifier;

// Turns SIGINT and SIGTERM into a call on the GUI thread: the handler only
// writes a byte to a pipe, whose read end a socket notifier watches. One
// instance at a time; the previous handlers come back when it goes.
class CStopSignals : public QObject {
  Q_OBJECT

 public:
  explicit CStopSignals(std::function<void()> onStop, QObject* parent = nullptr);
  ~CStopSignals() override;
  // False when the pipe or the handlers could not be set up.
  bool Installed() const { return bInstalled; }

 private:
  void OnReadable();

  std::function<void()> fnStop;
  QSocketNotifier* pNotifier = nullptr;
  bool bInstalled = false;
};
