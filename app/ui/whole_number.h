#pragma once
#include <cstdint>

class QLineEdit;
class QString;
class QWidget;

// True when text is a whole number: blanks or tabs around an optional sign
// and at least one decimal digit, the value within the signed 32-bit range.
// value is set only then.
bool ParseWholeNumber(const QString& text, int32_t& value);

// Takes a dialog's number field. When the field does not hold a whole number
// the refusal message is shown once (modal, over dialog), the focus returns
// to the field with its text selected, and false is returned. GUI thread.
bool TakeWholeNumber(QWidget* dialog, QLineEdit* field, int32_t& value);
