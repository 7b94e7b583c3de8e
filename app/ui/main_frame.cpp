#include "app/ui/main_frame.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QStringList>
#include <QTimer>
#include <cstdio>

#include "app/fleet.h"
#include "app/ui/dlg_about.h"
#include "app/ui/tool_message.h"
#include "app/ui/zel_view.h"

namespace {

constexpr int kPaneWidths[FRAME_PANE_COUNT] = {120, 200, 200};
constexpr int kNoteShowMs = 15000;

}  // namespace

CMainFrame::CMainFrame(const std::string& dir, QWidget* parent) : QMainWindow(parent) {
  setWindowTitle(QStringLiteral("zel"));
  pView = new CzelView(dir, this);
  setCentralWidget(pView);
  MakeMenus();
  MakeStatusBar();
  connect(pView, &CzelView::TitleChanged, this, &QWidget::setWindowTitle);
  connect(pView, &CzelView::PaneTextChanged, this, &CMainFrame::SetPaneText);
}

// No document commands: loading the files a second time is never offered.
void CMainFrame::MakeMenus() {
  QMenu* setting = menuBar()->addMenu(QStringLiteral("Setting"));
  setting->addAction(QStringLiteral("Option"), pView, &CzelView::OnSettingOption);
  QMenu* help = menuBar()->addMenu(QStringLiteral("Help(&H)"));
  help->addAction(QStringLiteral("About zel(&A)..."), this, &CMainFrame::OnAbout);
}

// The fourth pane stands where the scroll-lock indicator stands; its state
// is not read from the keyboard, so it always shows the unlit look.
void CMainFrame::MakeStatusBar() {
  for (int i = 0; i < FRAME_PANE_COUNT; ++i) {
    pPanes[i] = new QLabel(this);
    pPanes[i]->setFixedWidth(kPaneWidths[i]);
    statusBar()->addWidget(pPanes[i]);
  }
  pPanes[FRAME_PANE_COUNT] = new QLabel(QStringLiteral("SCRL"), this);
  pPanes[FRAME_PANE_COUNT]->setEnabled(false);
  statusBar()->addPermanentWidget(pPanes[FRAME_PANE_COUNT]);
}

// Damaged files that were set aside get a message box once the window is up;
// fallbacks to defaults show for a while in the status bar.
void CMainFrame::InitialUpdate() {
  pView->InitialUpdate();
  QStringList warnings;
  QStringList notes;
  for (const FileNotice& notice : pView->Fleet().LoadNotices())
    (notice.bSetAside ? warnings : notes).append(QString::fromStdString(notice.szText));
  if (!notes.isEmpty()) statusBar()->showMessage(notes.join(QStringLiteral("; ")), kNoteShowMs);
  if (!warnings.isEmpty()) {
    QTimer::singleShot(0, this, [this, warnings] { ShowToolMessage(this, warnings.join(QStringLiteral("\n\n"))); });
  }
}

void CMainFrame::PlaceOnScreen() {
  resize(FRAME_WIDTH, FRAME_HEIGHT);
  QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  QRect area = screen->availableGeometry();
  move(area.center() - QPoint(FRAME_WIDTH / 2, FRAME_HEIGHT / 2));
}

QLabel* CMainFrame::Pane(int pane) const {
  return pane >= 0 && pane <= FRAME_PANE_COUNT ? pPanes[pane] : nullptr;
}

void CMainFrame::SetPaneText(int pane, const QString& text) {
  if (pane < 0 || pane >= FRAME_PANE_COUNT) return;
  pPanes[pane]->setText(text);
  pPanes[pane]->repaint();
}

void CMainFrame::OnAbout() {
  CDlgAbout about(this);
  about.exec();
}

void CMainFrame::CloseFromSignal() {
  while (QWidget* popup = QApplication::activePopupWidget()) {
    if (!popup->close()) break;
  }
  while (QWidget* modal = QApplication::activeModalWidget()) {
    if (auto* dialog = qobject_cast<QDialog*>(modal))
      dialog->reject();
    else
      modal->close();
    if (QApplication::activeModalWidget() == modal) break;
  }
  close();
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  if (!pView->Release())
    fprintf(stderr, "zel: %s/list.txt could not be written\n", pView->Fleet().Dir().c_str());
  event->accept();
}
