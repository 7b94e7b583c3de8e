#include "app/ui/tool_message.h"

#include <QMessageBox>

void ShowToolMessage(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Warning, QStringLiteral("zel"), text, QMessageBox::Ok, parent);
  box.exec();
}
