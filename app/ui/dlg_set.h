#pragma once
#include <QDialog>
#include <QString>
#include <functional>
#include <cstdint>
#include <string>

class QLineEdit;
class QPushButton;

// The frame file chooser's filter: two entries, both showing every file.
extern const char* const SET_FILE_FILTER;

// The path a chosen file shows in the LiveView File field: every backslash
// replaced by a forward slash.
QString ForwardSlashPath(const QString& path);

// The system's file-open dialog for the frame file; empty when cancelled.
QString ChooseFrameFile(QWidget* parent);

// What SET hands back (UTF-8), stored by the caller through ApplySettings.
struct SetValues {
  std::string szReg;
  std::string szVf;
  int32_t nOnlineRate = 0;  // devices per second that Online connects; 0 all at once
};

// SET: the register server ("REG") and the frame file ("VF"). Neither text is
// checked for sense (an address without a colon or a missing file is
// stored), but OK refuses texts longer than a device can hold: an address
// part (before the first ':') over 79 bytes or a path over 399 bytes. The
// online rate (kept by the window for this session, not in devset.txt) must
// be a whole number of 0 or more. GUI thread.
class CDlgSet : public QDialog {
  Q_OBJECT

 public:
  using FileChooser = std::function<QString(QWidget* parent)>;

  CDlgSet(const QString& reg, const QString& vf, QWidget* parent = nullptr);
  // The online rate field's start value (0 unless set).
  void SetOnlineRate(int32_t perSecond);

  // Replaces the file-open dialog that "..." opens (tests).
  void SetFileChooser(FileChooser chooser) { fnChoose = std::move(chooser); }

  // Reads both fields into Values(); false (message shown, focus on the
  // field) when one is too long for a device.
  bool TakeValues();
  const SetValues& Values() const { return values; }

  QLineEdit* RegEdit() const { return pReg; }
  QLineEdit* VfEdit() const { return pVf; }
  QPushButton* BrowseButton() const { return pBrowse; }
  QLineEdit* RateEdit() const { return pRate; }
  QPushButton* OkButton() const { return pOk; }
  QPushButton* CancelButton() const { return pCancel; }

 public slots:
  // "...": a chosen file's path replaces the LiveView File field; cancelling
  // the chooser changes nothing.
  void OnBrowse();
  void accept() override;

 private:
  SetValues values;
  FileChooser fnChoose;
  QPushButton* pOk = nullptr;
  QPushButton* pCancel = nullptr;
  QLineEdit* pReg = nullptr;
  QLineEdit* pVf = nullptr;
  QPushButton* pBrowse = nullptr;
  QLineEdit* pRate = nullptr;
};
