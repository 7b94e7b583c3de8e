#pragma once
#include <QDialog>

#include "device/device_properties.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

// PROPERTY: the seven behaviour values of one device or of all. The caller
// gives the values to show (the first selected device's, or the dialog
// defaults when nothing is selected) and stores Values() after OK. Numbers
// are stored as typed, negative ones included. GUI thread.
class CDlgPro : public QDialog {
  Q_OBJECT

 public:
  explicit CDlgPro(const DeviceProperties& start, QWidget* parent = nullptr);

  // Reads the controls into Values(). False when one of the three numbers is
  // not a whole number: the message was shown once, the focus is back on that
  // field, and Values() is unchanged.
  bool TakeValues();
  const DeviceProperties& Values() const { return values; }

  QCheckBox* GpsCheck() const { return pGps; }
  QCheckBox* AutoUploadCheck() const { return pAutoUpload; }
  QCheckBox* CustomAlarmCheck() const { return pCustomAlarm; }
  QCheckBox* SpeedAlarmCheck() const { return pSpeedAlarm; }
  QLineEdit* IntervalEdit() const { return pInterval; }
  QLineEdit* LiveViewOffEdit() const { return pLiveViewOff; }
  QLineEdit* AutoOfflineEdit() const { return pAutoOffline; }
  QPushButton* OkButton() const { return pOk; }
  QPushButton* CancelButton() const { return pCancel; }

 public slots:
  void accept() override;

 private:
  void MakeControls();
  void PlaceControls();
  void ShowValues();

  DeviceProperties values;
  QPushButton* pOk = nullptr;
  QPushButton* pCancel = nullptr;
  QCheckBox* pAutoUpload = nullptr;
  QLineEdit* pInterval = nullptr;
  QCheckBox* pGps = nullptr;
  QCheckBox* pCustomAlarm = nullptr;
  QLineEdit* pAutoOffline = nullptr;
  QCheckBox* pSpeedAlarm = nullptr;
  QLineEdit* pLiveViewOff = nullptr;
};
