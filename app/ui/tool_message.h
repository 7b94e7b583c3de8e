#pragma once

class QString;
class QWidget;

// The tool's message box: caption "zel", the text, one OK button. Modal over
// parent; returns when the operator closed it. GUI thread.
void ShowToolMessage(QWidget* parent, const QString& text);
