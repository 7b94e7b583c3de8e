#pragma once
#include <QDialog>
#include <functional>
#include <string>

#include "platform/local_time.h"

class QPlainTextEdit;
class QPushButton;

// SEND: a free-form signalling message for one device. Opens with the sample
// message stamped with the time it opens. Every press of Send (the default
// button) hands the text to the sender and leaves the dialog open with the
// text unchanged; Cancel, Escape and the close box end it. Inside the text
// Enter inserts a line break. GUI thread.
class CDlgSend : public QDialog {
  Q_OBJECT

 public:
  // Sends one text (the caller routes it to the device); its result is not
  // shown.
  using Sender = std::function<void(const std::string& text)>;

  CDlgSend(Sender sender, QWidget* parent = nullptr);
  // As above with the opening time given (tests).
  CDlgSend(Sender sender, const LocalTime& now, QWidget* parent = nullptr);

  QPlainTextEdit* TextEdit() const { return pText; }
  QPushButton* SendButton() const { return pSend; }
  QPushButton* CancelButton() const { return pCancel; }

 public slots:
  // The Send button: hands the current text to the sender.
  void OnSend();

 private:
  Sender fnSend;
  QPushButton* pSend = nullptr;
  QPushButton* pCancel = nullptr;
  QPlainTextEdit* pText = nullptr;
};
