#include "app/ui/dlg_pro.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/ui/dlu_layout.h"
#include "app/ui/whole_number.h"

namespace {

Qt::CheckState Check(int32_t flag) { return flag ? Qt::Checked : Qt::Unchecked; }
int32_t Flag(const QCheckBox* box) { return box->isChecked() ? 1 : 0; }

}  // namespace

CDlgPro::CDlgPro(const DeviceProperties& start, QWidget* parent) : QDialog(parent), values(start) {
  setWindowTitle(QStringLiteral("PROPERTY"));
  MakeControls();
  PlaceControls();
  ShowValues();
  pOk->setDefault(true);
  pOk->setFocus(Qt::OtherFocusReason);
  connect(pOk, &QPushButton::clicked, this, &CDlgPro::accept);
  connect(pCancel, &QPushButton::clicked, this, &CDlgPro::reject);
}

// Made in tab order: OK, Cancel, Auto Upload, interval, GPS, Customize Alarm,
// auto-offline, Upload Speed Alarm, live-view turn-off.
void CDlgPro::MakeControls() {
  CDluMapper dlu(font());
  dlu.Place(new QLabel(QStringLiteral("Upload interval(Sec):"), this), 7, 28, 72, 8);
  dlu.Place(new QLabel(QStringLiteral("LiveView turn-off interval(Sec):"), this), 7, 117, 112, 8);
  dlu.Place(new QLabel(QStringLiteral("Auto-offline interval(Sec):"), this), 7, 134, 112, 8);
  pOk = new QPushButton(QStringLiteral("OK"), this);
  pCancel = new QPushButton(QStringLiteral("Cancel"), this);
  pAutoUpload = new QCheckBox(QStringLiteral("Auto Upload"), this);
  pInterval = new QLineEdit(this);
  pGps = new QCheckBox(QStringLiteral("GPS"), this);
  pCustomAlarm = new QCheckBox(QStringLiteral("Customize Alarm"), this);
  pAutoOffline = new QLineEdit(this);
  pSpeedAlarm = new QCheckBox(QStringLiteral("Upload Speed Alarm"), this);
  pLiveViewOff = new QLineEdit(this);
  QWidget* order[] = {pOk, pCancel, pAutoUpload, pInterval, pGps, pCustomAlarm, pAutoOffline, pSpeedAlarm,
                      pLiveViewOff};
  for (size_t i = 1; i < sizeof order / sizeof order[0]; ++i) setTabOrder(order[i - 1], order[i]);
}

void CDlgPro::PlaceControls() {
  CDluMapper dlu(font());
  setFixedSize(dlu.Size(186, 177));
  dlu.Place(pGps, 7, 11, 35, 10);
  dlu.Place(pInterval, 80, 26, 26, 14);
  dlu.Place(pAutoUpload, 7, 41, 120, 10);
  dlu.Place(pCustomAlarm, 7, 56, 100, 10);
  dlu.Place(pSpeedAlarm, 7, 70, 150, 10);
  dlu.Place(pLiveViewOff, 120, 115, 40, 14);
  dlu.Place(pAutoOffline, 120, 132, 40, 14);
  dlu.Place(pOk, 75, 156, 50, 14);
  dlu.Place(pCancel, 129, 156, 50, 14);
}

void CDlgPro::ShowValues() {
  pGps->setCheckState(Check(values.bGps));
  pAutoUpload->setCheckState(Check(values.bAutoUpload));
  pCustomAlarm->setCheckState(Check(values.bCustomAlarm));
  pSpeedAlarm->setCheckState(Check(values.bSpeedAlarm));
  pInterval->setText(QString::number(values.nUploadInterval));
  pLiveViewOff->setText(QString::number(values.nLiveViewOff));
  pAutoOffline->setText(QString::number(values.nAutoOffline));
}

bool CDlgPro::TakeValues() {
  DeviceProperties taken;
  if (!TakeWholeNumber(this, pInterval, taken.nUploadInterval)) return false;
  if (!TakeWholeNumber(this, pLiveViewOff, taken.nLiveViewOff)) return false;
  if (!TakeWholeNumber(this, pAutoOffline, taken.nAutoOffline)) return false;
  taken.bGps = Flag(pGps);
  taken.bAutoUpload = Flag(pAutoUpload);
  taken.bCustomAlarm = Flag(pCustomAlarm);
  taken.bSpeedAlarm = Flag(pSpeedAlarm);
  values = taken;
  return true;
}

void CDlgPro::accept() {
  if (TakeValues()) QDialog::accept();
}
