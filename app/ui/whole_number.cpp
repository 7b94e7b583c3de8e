#include "app/ui/whole_number.h"

#include <QLineEdit>
#include <QString>

#include "app/ui/tool_message.h"

namespace {

bool IsBlank(QChar c) { return c == u' ' || c == u'\t'; }

}  // namespace

bool ParseWholeNumber(const QString& text, int32_t& value) {
  qsizetype i = 0;
  qsizetype end = text.size();
  while (i < end && IsBlank(text[i])) ++i;
  while (end > i && IsBlank(text[end - 1])) --end;
  bool negative = false;
  if (i < end && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
  if (i == end) return false;
  // The magnitude stops growing past 2^31, so it never overflows 64 bits.
  int64_t magnitude = 0;
  for (; i < end; ++i) {
    char16_t c = text[i].unicode();
    if (c < u'0' || c > u'9') return false;
    magnitude = magnitude * 10 + (c - u'0');
    if (magnitude > int64_t{INT32_MAX} + 1) return false;
  }
  int64_t signedValue = negative ? -magnitude : magnitude;
  if (signedValue > INT32_MAX) return false;
  value = static_cast<int32_t>(signedValue);
  return true;
}

bool TakeWholeNumber(QWidget* dialog, QLineEdit* field, int32_t& value) {
  if (ParseWholeNumber(field->text(), value)) return true;
  ShowToolMessage(dialog, QStringLiteral("Please enter a whole number."));
  field->setFocus(Qt::OtherFocusReason);
  field->selectAll();
  return false;
}
