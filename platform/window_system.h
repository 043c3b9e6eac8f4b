#pragma once

// The window services the program is built on, free of any toolkit: a window built from a
// layout table, its controls named by number, and a stream of events read one at a time.
//
// The model:
//  - Build() makes the window and its controls from a WindowLayout; nothing is shown until
//    Open(). Controls that show a variable are bound to it with the Bind... calls; Display()
//    copies the variable into the control, and an entry stores each edit that passes its
//    picture back into its variable.
//  - NextEvent() waits for the next event, serving the window meanwhile (it repaints, moves
//    and resizes). Events come in the order they happened: the window opened, the window
//    gained the focus, an entry refused a value, a button was pressed, Escape was pressed,
//    the work started by StartWork() ended, Up or Down was pressed in an entry. A close request
//    (PostCloseRequest(), or the user closing the window by the window manager) ends the stream:
//    NextEvent() then returns no event, and the caller closes the window. While the caller handles
//    an event, no other input is handled.
//  - Calls that change what is on screen (Display, DisplayAll, SetVisible) paint at once.
//  - Long work runs off the window's thread (StartWork), so that the window keeps being
//    served. The work reaches the window only by handing calls over to the window's thread
//    (PostCall, Call); they run there while NextEvent() or WaitForWork() waits, in the order
//    they were handed over, never in the middle of the caller's handling of an event.
//
// One instance serves one window. Every call is made on the window's thread (the one that
// built it), except PostCall and Call, which any thread may make.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "support/message_box/message.h"

namespace kb::platform {

// An opaque handle of a window for other platform services (the shell); 0 for none.
using NativeHandle = std::uintptr_t;

enum class ControlKind {
  kPrompt,       // a label; it cannot take the focus
  kEntry,        // a single-line entry field, checked against its picture
  kButton,       // a push button; "&" in its text marks the access key
  kProgressBar,  // shows a bound number within its range
  kStaticText,   // a line of text set by SetText; it cannot take the focus
  kListBox,      // shows one row per entry of a bound list
};

// One control of a layout table. Positions and sizes are in dialog units of the window font
// (support/message_box/dialog_units.h, rounded to the nearest pixel); a width or height of 0
// fits the control to its text.
struct ControlLayout {
  int32_t number = 0;       // how the program names the control; unique within the window
  std::string_view name{};  // the control's name for tools and tests ("SearchEntry")
  ControlKind kind = ControlKind::kPrompt;
  std::string_view text{};  // the initial text
  int32_t x = 0;
  int32_t y = 0;
  int32_t width = 0;
  int32_t height = 0;
  std::string_view icon{};     // an icon file name such as "Textfind.ico"; empty for none
  std::string_view picture{};  // entry: "sN", a text of at most N characters
  int32_t range_low = 0;       // progress bar
  int32_t range_high = 0;
  bool hidden = false;      // starts hidden
  bool is_default = false;  // button: Enter in an entry field of the window presses it
  // button: a key that presses it anywhere in the window, in the portable form of key names
  // ("Ctrl+O"); empty for none
  std::string_view shortcut{};
};

struct WindowLayout {
  std::string_view title{};
  int32_t width = 0;  // dialog units, client area
  int32_t height = 0;
  std::string_view font_family{};  // replaced by the platform's UI family when missing
  int32_t font_points = 0;
  std::string_view icon{};                    // an icon file name, as for controls
  std::span<const ControlLayout> controls{};  // in tab order
};

enum class EventKind {
  kOpenWindow,   // the window has been opened (once, after Open)
  kGainFocus,    // the window has become the active window
  kRejected,     // `control`, an entry, was given a value its picture refuses; it still shows
                 // that value, and its variable keeps the last value that passed
  kAccepted,     // `control`, a button, was pressed
  kCancel,       // Escape was pressed in the window (not in a message box)
  kWorkDone,     // the work started by StartWork() has returned, and every call it handed
                 // over has run
  kRecallOlder,  // Up was pressed in `control`, an entry
  kRecallNewer,  // Down was pressed in `control`, an entry
};

struct Event {
  EventKind kind = EventKind::kOpenWindow;
  int32_t control = 0;  // 0 for the window's own events
};

// The resource name under which the program keeps the icon file `file_name`: upper-cased,
// "." replaced by "_" ("Textfind.ico" is TEXTFIND_ICO).
std::string IconResourceName(std::string_view file_name);

// The longest value, in characters (CountCharacters, support/text/utf8.h), that a picture
// "sN" allows; 0 for a picture of another form.
std::size_t PictureMaxLength(std::string_view picture);

class WindowSystem {
 public:
  virtual ~WindowSystem() = default;

  // Builds the window, hidden, from `layout`, which must outlive the window. Building again
  // replaces the previous window.
  virtual void Build(const WindowLayout& layout) = 0;

  // Binds an entry or a text to a variable: `load` gives the text to show (bytes, UTF-8),
  // `store` takes every value the user enters that passes the picture.
  virtual void BindText(int32_t control, std::function<std::string()> load,
                        std::function<void(std::string_view)> store) = 0;
  // Binds a progress bar to a number.
  virtual void BindNumber(int32_t control, std::function<int32_t()> load) = 0;
  // Binds a list box to a list: its number of rows, and the text of row n (from 1).
  virtual void BindRows(int32_t control, std::function<int32_t()> count,
                        std::function<std::string(int32_t)> row) = 0;

  // Replaces the window's title (UTF-8).
  virtual void SetTitle(std::string_view title) = 0;
  // Shows the window; posts kOpenWindow.
  virtual void Open() = 0;
  // Waits for the next event; none once a close request has been taken.
  virtual std::optional<Event> NextEvent() = 0;

  // Sets the text a control shows (a label, text, button or entry); the variable an entry
  // is bound to is not changed.
  virtual void SetText(int32_t control, std::string_view text) = 0;
  // Shows or hides a control, on screen at once.
  virtual void SetVisible(int32_t control, bool visible) = 0;
  // Copies the bound variable into `control` and paints it at once.
  virtual void Display(int32_t control) = 0;
  // Display() for every control, then paints the whole window at once.
  virtual void DisplayAll() = 0;
  // Puts the keyboard focus on `control`, or on the next control in tab order that can take
  // it.
  virtual void SetFocus(int32_t control) = 0;
  // Lets `control` take input, or not. A control disabled while it has the keyboard focus
  // hands it to the window itself, not to another control, so that keys typed meanwhile
  // reach no control; it gets the focus back when enabled again, unless the user has put
  // the focus elsewhere meanwhile.
  virtual void SetEnabled(int32_t control, bool enabled) = 0;

  // Asks for the window to close; the request is taken in turn, after the events before it.
  virtual void PostCloseRequest() = 0;
  // Closes the window and disposes of its controls; nothing is bound any more.
  virtual void Close() = 0;

  // The window's handle; 0 when no window is built.
  virtual NativeHandle Handle() = 0;
  // The standard system beep.
  virtual void Beep() = 0;

  // Shows a modal message box over the window (or on its own before the window is shown)
  // and returns the result of the button pressed.
  virtual int32_t ShowMessage(const Message& message) = 0;

  // Runs `work` on a thread of its own and returns at once; NextEvent() reports kWorkDone
  // once it has returned. One piece of work at a time: no call while work runs.
  virtual void StartWork(std::function<void()> work) = 0;
  // Waits until the work started last has returned, running the calls it hands over
  // meanwhile; for the end of the program, after the event stream has ended. No kWorkDone
  // is reported for it. Returns at once when no work runs.
  virtual void WaitForWork() = 0;
  // Hands `call` over to the window's thread and returns at once. Any thread.
  virtual void PostCall(std::function<void()> call) = 0;
  // Hands `call` over to the window's thread and waits until it has run; on the window's
  // thread itself, runs it at once. Any thread.
  virtual void Call(const std::function<void()>& call) = 0;
};

}  // namespace kb::platform
