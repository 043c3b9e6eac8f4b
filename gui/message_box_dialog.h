#pragma once

// The message box as a Qt dialog of our own (not the toolkit's stock box), so that its
// layout, buttons and keys follow message_box_content.h and message_box_layout.h:
//  - the text in the dialog font, word-wrapped, "|" as a line break, "&" shown as it is;
//  - the caption bar shows the caption, empty when there is none; it has no close button,
//    and a window-manager close does nothing: only a button ends the box;
//  - Enter presses the default button; Escape presses Cancel, and does nothing without one;
//  - drawn on the button-face colour; no sound.

#include <QDialog>
#include <cstdint>
#include <vector>

#include "support/message_box/message.h"
#include "support/message_box/message_box_content.h"
#include "support/message_box/message_box_layout.h"

class QPushButton;

namespace kb {

class MessageBoxDialog : public QDialog {
 public:
  // Builds the box for `message` as a child of `owner` (may be null), not shown yet. Its
  // buttons end it with the result of the button pressed (exec() returns it).
  MessageBoxDialog(const Message& message, QWidget* owner);

  const BoxContent& content() const { return content_; }
  const BoxLayout& layout() const { return layout_; }
  // The buttons, left to right.
  const std::vector<QPushButton*>& buttons() const { return buttons_; }

 protected:
  void reject() override;
  void closeEvent(QCloseEvent* event) override;

 private:
  BoxContent content_;
  BoxLayout layout_;
  std::vector<QPushButton*> buttons_;
};

// Shows `message` in a modal box and returns the result of the button pressed. The box is
// centred on `frame` when that is a visible window, otherwise on the screen, and kept on the
// screen; `frame` is disabled while the box is open. Afterwards the keyboard focus goes back
// to the widget that had it.
int32_t ShowMessageBox(const Message& message, QWidget* frame);

}  // namespace kb
