#pragma once
#include <QMainWindow>
#include <string>

class CzelView;
class QLabel;

constexpr int FRAME_PANE_COUNT = 3;        // the text panes 0, 1, 2
constexpr int FRAME_WIDTH = 600;           // the window's size at start
constexpr int FRAME_HEIGHT = 500;

// The main window: the menus "Setting" and "Help(&H)", the list view of the
// fleet, and the status bar with three text panes (120, 200 and 200 pixels)
// and the scroll-lock indicator. The title starts as "zel" and shows what
// the fleet sets ("ZEL - <REG>"). Closing runs the fleet's SaveAndRelease
// before the window goes. GUI thread.
class CMainFrame : public QMainWindow {
  Q_OBJECT

 public:
  // dir: where the three files lie (the program passes --dir, or GetExeDir()).
  explicit CMainFrame(const std::string& dir, QWidget* parent = nullptr);

  // The view's initial update: loads the fleet.
  void InitialUpdate();
  // 600 x 500 pixels, centred on the screen the window is on.
  void PlaceOnScreen();
  // A stop signal: open dialogs, message boxes and menus are dismissed
  // without effect, then the window closes as by the close box.
  void CloseFromSignal();

  CzelView* View() const { return pView; }
  // Status pane 0, 1 or 2, or the scroll-lock indicator (3).
  QLabel* Pane(int pane) const;

 public slots:
  void SetPaneText(int pane, const QString& text);
  void OnAbout();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void MakeMenus();
  void MakeStatusBar();

  CzelView* pView = nullptr;
  QLabel* pPanes[FRAME_PANE_COUNT + 1] = {};
};
