#include "app/ui/dlg_add.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/ui/dlu_layout.h"
#include "app/ui/whole_number.h"

CDlgAdd::CDlgAdd(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("ADD"));
  CDluMapper dlu(font());
  setFixedSize(dlu.Size(186, 170));
  dlu.Place(new QLabel(QStringLiteral("ID:"), this), 7, 35, 46, 8);
  dlu.Place(new QLabel(QStringLiteral("Device Count:"), this), 7, 54, 50, 8);

  // Made in tab order: OK, Cancel, count, ID.
  pOk = new QPushButton(QStringLiteral("OK"), this);
  pCancel = new QPushButton(QStringLiteral("Cancel"), this);
  pCountEdit = new QLineEdit(QStringLiteral("1"), this);
  pIdEdit = new QLineEdit(this);
  dlu.Place(pOk, 75, 149, 50, 14);
  dlu.Place(pCancel, 129, 149, 50, 14);
  dlu.Place(pCountEdit, 78, 51, 101, 14);
  dlu.Place(pIdEdit, 78, 32, 101, 14);
  setTabOrder(pOk, pCancel);
  setTabOrder(pCancel, pCountEdit);
  setTabOrder(pCountEdit, pIdEdit);

  pOk->setDefault(true);
  pOk->setFocus(Qt::OtherFocusReason);
  connect(pOk, &QPushButton::clicked, this, &CDlgAdd::accept);
  connect(pCancel, &QPushButton::clicked, this, &CDlgAdd::reject);
}

bool CDlgAdd::TakeValues() {
  int32_t count = 0;
  if (!TakeWholeNumber(this, pCountEdit, count)) return false;
  values.nCount = count;
  values.szBaseId = pIdEdit->text().toStdString();
  return true;
}

void CDlgAdd::accept() {
  if (TakeValues()) QDialog::accept();
}
