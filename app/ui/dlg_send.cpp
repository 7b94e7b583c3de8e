#include "app/ui/dlg_send.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <utility>

#include "app/ui/dlu_layout.h"
#include "app/ui/send_sample.h"

CDlgSend::CDlgSend(Sender sender, QWidget* parent) : CDlgSend(std::move(sender), GetLocalTime(), parent) {}

CDlgSend::CDlgSend(Sender sender, const LocalTime& now, QWidget* parent)
    : QDialog(parent), fnSend(std::move(sender)) {
  setWindowTitle(QStringLiteral("SEND"));
  CDluMapper dlu(font());
  setFixedSize(dlu.Size(262, 126));
  // Made in tab order: Send, Cancel, text.
  pSend = new QPushButton(QStringLiteral("Send"), this);
  pCancel = new QPushButton(QStringLiteral("Cancel"), this);
  pText = new QPlainTextEdit(this);
  dlu.Place(pText, 7, 7, 248, 76);
  dlu.Place(pSend, 151, 105, 50, 14);
  dlu.Place(pCancel, 205, 105, 50, 14);
  setTabOrder(pSend, pCancel);
  setTabOrder(pCancel, pText);

  // Tab leaves the text for the buttons; Enter stays in it as a line break.
  pText->setTabChangesFocus(true);
  pText->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  pText->setPlainText(QString::fromStdString(BuildSendSample(now)));

  pSend->setDefault(true);
  pSend->setFocus(Qt::OtherFocusReason);
  connect(pSend, &QPushButton::clicked, this, &CDlgSend::OnSend);
  connect(pCancel, &QPushButton::clicked, this, &CDlgSend::reject);
}

void CDlgSend::OnSend() {
  if (fnSend) fnSend(pText->toPlainText().toStdString());
}
