#include "app/ui/dlg_set.h"

#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/ui/dlu_layout.h"
#include "app/ui/tool_message.h"
#include "app/ui/whole_number.h"
#include "device/dev_q5.h"

const char* const SET_FILE_FILTER = "H264 Files (*.*);;All Files (*.*)";

namespace {

// Bytes of the address part of a "REG" text: what a device copies into
// szServerIp when it goes online.
size_t AddressBytes(const std::string& reg) {
  size_t colon = reg.find(':');
  return colon == std::string::npos ? reg.size() : colon;
}

bool Refuse(QWidget* dialog, QLineEdit* field, const QString& text) {
  ShowToolMessage(dialog, text);
  field->setFocus(Qt::OtherFocusReason);
  field->selectAll();
  return false;
}

}  // namespace

QString ForwardSlashPath(const QString& path) {
  QString out = path;
  out.replace(u'\\', u'/');
  return out;
}

QString ChooseFrameFile(QWidget* parent) {
  return QFileDialog::getOpenFileName(parent, QStringLiteral("Open"), QString(),
                                      QString::fromLatin1(SET_FILE_FILTER));
}

CDlgSet::CDlgSet(const QString& reg, const QString& vf, QWidget* parent)
    : QDialog(parent), fnChoose(ChooseFrameFile) {
  setWindowTitle(QStringLiteral("SET"));
  CDluMapper dlu(font());
  setFixedSize(dlu.Size(278, 114));
  dlu.Place(new QLabel(QStringLiteral("Register Server:"), this), 7, 28, 60, 8);
  dlu.Place(new QLabel(QStringLiteral("LiveView File:"), this), 7, 50, 60, 8);
  dlu.Place(new QLabel(QStringLiteral("Online rate:"), this), 7, 72, 60, 8);
  dlu.Place(new QLabel(QStringLiteral("devices per second (0: all at once)"), this), 112, 72, 159, 8);
  // Made in tab order: OK, Cancel, Register Server, LiveView File, "...".
  pOk = new QPushButton(QStringLiteral("OK"), this);
  pCancel = new QPushButton(QStringLiteral("Cancel"), this);
  pReg = new QLineEdit(reg, this);
  pVf = new QLineEdit(vf, this);
  pBrowse = new QPushButton(QStringLiteral("..."), this);
  pRate = new QLineEdit(QStringLiteral("0"), this);
  dlu.Place(pReg, 68, 25, 203, 14);
  dlu.Place(pVf, 68, 49, 178, 14);
  dlu.Place(pBrowse, 246, 48, 25, 14);
  dlu.Place(pRate, 68, 70, 40, 14);
  dlu.Place(pOk, 167, 93, 50, 14);
  dlu.Place(pCancel, 221, 93, 50, 14);
  setTabOrder(pOk, pCancel);
  setTabOrder(pCancel, pReg);
  setTabOrder(pReg, pVf);
  setTabOrder(pVf, pBrowse);
  setTabOrder(pBrowse, pRate);

  pOk->setDefault(true);
  pOk->setFocus(Qt::OtherFocusReason);
  connect(pOk, &QPushButton::clicked, this, &CDlgSet::accept);
  connect(pCancel, &QPushButton::clicked, this, &CDlgSet::reject);
  connect(pBrowse, &QPushButton::clicked, this, &CDlgSet::OnBrowse);
}

void CDlgSet::SetOnlineRate(int32_t perSecond) { pRate->setText(QString::number(perSecond)); }

void CDlgSet::OnBrowse() {
  QString chosen = fnChoose ? fnChoose(this) : QString();
  if (!chosen.isEmpty()) pVf->setText(ForwardSlashPath(chosen));
}

bool CDlgSet::TakeValues() {
  std::string reg = pReg->text().toStdString();
  std::string vf = pVf->text().toStdString();
  if (AddressBytes(reg) >= static_cast<size_t>(DEV_SERVER_IP_SIZE))
    return Refuse(this, pReg, QStringLiteral("The register server address may be at most %1 bytes long.")
                                  .arg(DEV_SERVER_IP_SIZE - 1));
  if (vf.size() >= static_cast<size_t>(DEV_FRAME_PATH_SIZE))
    return Refuse(this, pVf, QStringLiteral("The LiveView File path may be at most %1 bytes long.")
                                 .arg(DEV_FRAME_PATH_SIZE - 1));
  int32_t rate = 0;
  if (!TakeWholeNumber(this, pRate, rate)) return false;
  if (rate < 0) return Refuse(this, pRate, QStringLiteral("The online rate must be 0 or more devices per second."));
  values.szReg = reg;
  values.szVf = vf;
  values.nOnlineRate = rate;
  return true;
}

void CDlgSet::accept() {
  if (TakeValues()) QDialog::accept();
}
