#include "app/ui/fleet_model.h"

#include <algorithm>

#include "app/fleet.h"

CFleetModel::CFleetModel(const CFleet& f, QObject* parent) : QAbstractListModel(parent), fleet(f) {
  flushTimer.setSingleShot(true);
  flushTimer.setInterval(FLEET_FLUSH_MS);
  connect(&flushTimer, &QTimer::timeout, this, &CFleetModel::FlushDirty);
}

void CFleetModel::SetImages(const QIcon& offline, const QIcon& online) {
  images[0] = offline;
  images[1] = online;
  if (!rowsCopy.empty()) emit dataChanged(index(0), index(rowCount() - 1), {Qt::DecorationRole});
}

int CFleetModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rowsCopy.size());
}

QVariant CFleetModel::data(const QModelIndex& idx, int role) const {
  if (!idx.isValid() || idx.row() < 0 || static_cast<size_t>(idx.row()) >= rowsCopy.size()) return {};
  const Row& row = rowsCopy[static_cast<size_t>(idx.row())];
  switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
      return row.label;
    case Qt::DecorationRole:
      return images[row.nImage == 1 ? 1 : 0];
    case FLEET_IMAGE_ROLE:
      return row.nImage;
    default:
      return {};
  }
}

void CFleetModel::Reload() {
  std::vector<FleetRowInfo> snapshot = fleet.Snapshot();
  beginResetModel();
  rowsCopy.clear();
  rowsCopy.reserve(snapshot.size());
  for (const FleetRowInfo& info : snapshot)
    rowsCopy.push_back({QString::fromStdString(info.label), info.nImage});
  endResetModel();
}

void CFleetModel::AppendNewRows() {
  std::vector<FleetRowInfo> snapshot = fleet.Snapshot();
  if (snapshot.size() < rowsCopy.size()) {
    Reload();
    return;
  }
  if (snapshot.size() == rowsCopy.size()) return;
  int first = static_cast<int>(rowsCopy.size());
  beginInsertRows(QModelIndex(), first, static_cast<int>(snapshot.size()) - 1);
  for (size_t i = rowsCopy.size(); i < snapshot.size(); ++i)
    rowsCopy.push_back({QString::fromStdString(snapshot[i].label), snapshot[i].nImage});
  endInsertRows();
}

void CFleetModel::MarkDirty(int32_t row) {
  {
    std::lock_guard<std::mutex> lock(dirtyLock);
    dirtyRows.push_back(row);
  }
  // One posted call at a time: the rows marked until it runs ride along.
  if (bFlushPending.exchange(1) == 0)
    QMetaObject::invokeMethod(this, &CFleetModel::ScheduleFlush, Qt::QueuedConnection);
}

void CFleetModel::ScheduleFlush() {
  if (!flushTimer.isActive()) flushTimer.start();
}

void CFleetModel::FlushDirty() {
  flushTimer.stop();
  // Cleared before the rows are taken: a row marked after the swap posts a
  // new flush, so no mark is left behind.
  bFlushPending.store(0);
  std::vector<int32_t> marked;
  {
    std::lock_guard<std::mutex> lock(dirtyLock);
    marked.swap(dirtyRows);
  }
  int lo = -1;
  int hi = -1;
  for (int32_t row : marked) {
    if (row < 0 || static_cast<size_t>(row) >= rowsCopy.size()) continue;
    int32_t image = fleet.RowImage(row);
    Row& copy = rowsCopy[static_cast<size_t>(row)];
    if (image < 0 || image == copy.nImage) continue;
    copy.nImage = image;
    lo = lo < 0 ? row : std::min(lo, static_cast<int>(row));
    hi = std::max(hi, static_cast<int>(row));
  }
  if (lo < 0) return;
  ++nFlushes;
  emit dataChanged(index(lo), index(hi), {Qt::DecorationRole, FLEET_IMAGE_ROLE});
}
