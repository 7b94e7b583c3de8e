#pragma once
#include <QDialog>

class QPushButton;

// The About box: caption "About zel", the application icon, "zel Version
// 1.0" and OK. Modal; GUI thread.
class CDlgAbout : public QDialog {
  Q_OBJECT

 public:
  explicit CDlgAbout(QWidget* parent = nullptr);
  QPushButton* OkButton() const { return pOk; }

 private:
  QPushButton* pOk = nullptr;
};
