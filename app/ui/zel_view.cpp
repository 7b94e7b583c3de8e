#include "app/ui/zel_view.h"

#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QMenu>
#include <QMouseEvent>
#include <algorithm>

#include "app/fleet.h"
#include "app/ui/device_icons.h"
#include "app/ui/fleet_model.h"
#include "app/ui/view_listener.h"

namespace {

// Rows laid out per step of a batched layout, so that 9,999 icons never
// hold the window up for long.
constexpr int kLayoutBatch = 1000;

}  // namespace

CzelView::CzelView(const std::string& dir, QWidget* parent) : QListView(parent) {
  pListener = std::make_unique<CViewListener>(*this);
  pFleet = std::make_unique<CFleet>(dir, pListener.get());
  pModel = new CFleetModel(*pFleet, this);
  SetUpList();
  setModel(pModel);
}

CzelView::~CzelView() {
  // The driver ends here, before the model (a child) and the listener go.
  pFleet.reset();
}

void CzelView::SetUpList() {
  setViewMode(QListView::IconMode);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setMovement(QListView::Static);
  setResizeMode(QListView::Adjust);
  setFlow(QListView::LeftToRight);
  setWrapping(true);
  setWordWrap(true);
  setTextElideMode(Qt::ElideRight);
  setLayoutMode(QListView::Batched);
  setBatchSize(kLayoutBatch);
  setContextMenuPolicy(Qt::DefaultContextMenu);
  // A label wraps within the width of the icon area, so the icon area is as
  // wide as a grid cell; the 48-pixel pictures are drawn centred in it.
  QFontMetrics metrics(font());
  int width = std::max(ICON_DEVICE_SIZE + 40, metrics.averageCharWidth() * 13);
  setIconSize(QSize(width - 8, ICON_DEVICE_SIZE));
  setGridSize(QSize(width, ICON_DEVICE_SIZE + 10 + 2 * metrics.height()));
}

void CzelView::InitialUpdate() {
  if (bLoaded) return;
  bLoaded = true;
  pModel->SetImages(MakeDeviceIcon(0), MakeDeviceIcon(1));
  pFleet->LoadAll();
  pModel->Reload();
}

bool CzelView::Release() {
  // Before the load there is nothing to save, and writing would replace a
  // list.txt that was never read.
  if (bReleased || !bLoaded) {
    bReleased = true;
    return true;
  }
  bReleased = true;
  bool written = pFleet->SaveAndRelease();
  pModel->Reload();
  return written;
}

std::vector<int32_t> CzelView::Selection() const {
  std::vector<int32_t> rows;
  if (!selectionModel()) return rows;
  const QModelIndexList selected = selectionModel()->selectedIndexes();
  rows.reserve(static_cast<size_t>(selected.size()));
  for (const QModelIndex& index : selected) rows.push_back(index.row());
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  return rows;
}

QMenu* CzelView::CreateDeviceMenu() {
  auto* menu = new QMenu(QStringLiteral("001"), this);
  menu->addAction(QStringLiteral("Add device"), this, &CzelView::OnAddDevice);
  menu->addAction(QStringLiteral("Delete device"), this, &CzelView::OnDeleteDevice);
  menu->addSeparator();
  menu->addAction(QStringLiteral("Online"), this, &CzelView::OnOnline);
  menu->addAction(QStringLiteral("Offline"), this, &CzelView::OnOffline);
  menu->addAction(QStringLiteral("Upload emergency alarm"), this, &CzelView::OnUploadEmergencyAlarm);
  menu->addAction(QStringLiteral("Upload command"), this, &CzelView::OnUploadCommand);
  menu->addSeparator();
  menu->addAction(QStringLiteral("Option"), this, &CzelView::OnDeviceOption);
  return menu;
}

void CzelView::PostTitle(const QString& text) {
  QMetaObject::invokeMethod(this, [this, text] { emit TitleChanged(text); }, Qt::AutoConnection);
}

void CzelView::PostPaneText(int32_t pane, const QString& text) {
  QMetaObject::invokeMethod(this, [this, pane, text] { emit PaneTextChanged(pane, text); }, Qt::AutoConnection);
}

// A right click on a row or on empty space: the same menu at the cursor.
void CzelView::contextMenuEvent(QContextMenuEvent* event) {
  std::unique_ptr<QMenu> menu(CreateDeviceMenu());
  menu->exec(event->globalPos());
  event->accept();
}

void CzelView::mouseReleaseEvent(QMouseEvent* event) {
  QListView::mouseReleaseEvent(event);
  if (event->button() == Qt::LeftButton) ShowFirstSelectedStatus();
}

// Pane 1 shows the first selected device's counters; without a selection it
// keeps what it shows.
void CzelView::ShowFirstSelectedStatus() {
  std::vector<int32_t> selected = Selection();
  if (selected.empty() || bReleased) return;
  emit PaneTextChanged(1, QString::fromStdString(pFleet->StatusText(selected.front())));
}
