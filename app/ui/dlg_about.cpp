#include "app/ui/dlg_about.h"

#include <QLabel>
#include <QPushButton>

#include "app/ui/device_icons.h"
#include "app/ui/dlu_layout.h"

CDlgAbout::CDlgAbout(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("About zel"));
  CDluMapper dlu(font());
  setFixedSize(dlu.Size(235, 55));
  auto* icon = new QLabel(this);
  icon->setPixmap(MakeAppIcon().pixmap(32, 32));
  icon->setGeometry(dlu.X(11), dlu.Y(17), 32, 32);
  dlu.Place(new QLabel(QStringLiteral("zel Version 1.0"), this), 40, 10, 119, 8);
  pOk = new QPushButton(QStringLiteral("OK"), this);
  dlu.Place(pOk, 178, 7, 50, 14);
  pOk->setDefault(true);
  pOk->setFocus(Qt::OtherFocusReason);
  connect(pOk, &QPushButton::clicked, this, &CDlgAbout::accept);
}
