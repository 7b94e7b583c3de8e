#pragma once
#include <QListView>
#include <QString>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CFleet;
class CFleetModel;
class CViewListener;
class QMenu;

// The fleet as large icons: one item per device, labelled with its ID, with
// the offline or online picture. Several rows may be selected; a right click
// anywhere opens the device menu, a left click shows the first selected
// device's counters in status pane 1, and the icons flow anew when the view
// is resized. The view owns the fleet (built for dir) and turns the menu
// commands into fleet operations on the rows selected at that moment.
//
// Threads: GUI thread only. The fleet's driver thread reaches the view only
// through the model's MarkDirty; title and pane texts arrive as signals.
class CzelView : public QListView {
  Q_OBJECT

 public:
  explicit CzelView(const std::string& dir, QWidget* parent = nullptr);
  // Stops the fleet (without writing list.txt) before the model goes.
  ~CzelView() override;

  // The initial update: the two device pictures are attached, then the
  // fleet loads the three files and starts its driver. Once.
  void InitialUpdate();
  // The close: SaveAndRelease once (the driver stops, list.txt is written,
  // every device is destroyed). False when list.txt could not be written.
  // Later calls do nothing and return true.
  bool Release();
  bool Released() const { return bReleased; }

  CFleet& Fleet() { return *pFleet; }
  CFleetModel& Model() { return *pModel; }
  // The selected rows, ascending.
  std::vector<int32_t> Selection() const;
  // A fresh device menu whose actions run this view's commands; the caller
  // owns it.
  QMenu* CreateDeviceMenu();

  // Emit TitleChanged / PaneTextChanged on the GUI thread. Any thread.
  void PostTitle(const QString& text);
  void PostPaneText(int32_t pane, const QString& text);

 signals:
  void TitleChanged(const QString& text);
  void PaneTextChanged(int pane, const QString& text);

 public slots:
  void OnAddDevice();
  void OnDeleteDevice();
  void OnOnline();
  void OnOffline();
  void OnUploadEmergencyAlarm();
  void OnUploadCommand();
  void OnDeviceOption();
  void OnSettingOption();

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  // Commands run only between the load and the close.
  bool Ready() const { return bLoaded && !bReleased; }
  void SetUpList();
  void ShowFirstSelectedStatus();

  CFleetModel* pModel = nullptr;  // child object
  std::unique_ptr<CViewListener> pListener;
  std::unique_ptr<CFleet> pFleet;  // declared last: goes first
  bool bLoaded = false;
  bool bReleased = false;
  int32_t nOnlineRate = 0;  // SET's online rate: devices per second Online connects, 0 all at once
};
