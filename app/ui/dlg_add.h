#pragma once
#include <QDialog>
#include <cstdint>
#include <string>

class QLineEdit;
class QPushButton;

// What ADD hands back: the base ID as typed (UTF-8) and the count.
struct AddValues {
  std::string szBaseId;
  int32_t nCount = 1;
};

// ADD: base ID and count of a batch of new devices. Opens with an empty ID
// and count 1 every time. The ID goes to the fleet as typed; the fleet cuts
// an over-long one at a character boundary so that it fits szId. GUI thread.
class CDlgAdd : public QDialog {
  Q_OBJECT

 public:
  explicit CDlgAdd(QWidget* parent = nullptr);

  // Reads the fields into Values(). False when the count is not a whole
  // number: the message was shown, the focus is back on the count, and
  // Values() is unchanged.
  bool TakeValues();
  const AddValues& Values() const { return values; }

  QLineEdit* IdEdit() const { return pIdEdit; }
  QLineEdit* CountEdit() const { return pCountEdit; }
  QPushButton* OkButton() const { return pOk; }
  QPushButton* CancelButton() const { return pCancel; }

 public slots:
  // OK: closes with Accepted only when TakeValues succeeds.
  void accept() override;

 private:
  AddValues values;
  QPushButton* pOk = nullptr;
  QPushButton* pCancel = nullptr;
  QLineEdit* pCountEdit = nullptr;
  QLineEdit* pIdEdit = nullptr;
};
