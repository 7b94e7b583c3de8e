#pragma once
#include <QAbstractListModel>
#include <QIcon>
#include <QString>
#include <QTimer>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

class CFleet;

// The role that gives a row's image index (0 offline, 1 online).
constexpr int FLEET_IMAGE_ROLE = Qt::UserRole + 1;
// How long row image changes are collected before the list is repainted.
constexpr int FLEET_FLUSH_MS = 100;

// The list's rows: a copy of each fleet row's label and image, so painting
// takes no fleet lock. The view refreshes the copy after each command that
// adds or removes rows; image changes reported by the driver thread are
// collected and applied together on the GUI thread, so thousands of devices
// changing in one pass cost one repaint.
//
// Threads: MarkDirty from any thread (the driver's); everything else on the
// GUI thread. The fleet must outlive the model's use of it (the view destroys
// the fleet, whose driver is then gone, before the model).
class CFleetModel : public QAbstractListModel {
  Q_OBJECT

 public:
  explicit CFleetModel(const CFleet& fleet, QObject* parent = nullptr);

  // The pictures of image 0 and image 1.
  void SetImages(const QIcon& offline, const QIcon& online);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

  // Reads every row anew (after a load or a delete); the selection is reset.
  void Reload();
  // Adds the rows the fleet appended since the last read (after an add); the
  // selection of the other rows stays.
  void AppendNewRows();

  // The row's image may have changed. Any thread; the row is a hint that is
  // read again from the fleet on the GUI thread within FLEET_FLUSH_MS.
  void MarkDirty(int32_t row);
  // Applies the marked rows now. GUI thread.
  void FlushDirty();
  // Number of repaint requests (dataChanged) FlushDirty has made.
  int32_t FlushCount() const { return nFlushes; }

 private:
  struct Row {
    QString label;
    int32_t nImage = 0;
  };
  void ScheduleFlush();

  const CFleet& fleet;
  std::vector<Row> rowsCopy;
  QIcon images[2];
  QTimer flushTimer;
  int32_t nFlushes = 0;

  std::mutex dirtyLock;
  std::vector<int32_t> dirtyRows;       // dirtyLock
  std::atomic<int32_t> bFlushPending{0};  // a flush is posted or scheduled
};
