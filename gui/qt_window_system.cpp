#include "gui/qt_window_system.h"

#include <QAbstractListModel>
#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <deque>
#include <vector>

#include "gui/dialog_style.h"
#include "gui/message_box_dialog.h"
#include "gui/window_thread.h"

namespace kb::platform {
namespace {

// The top-level window. A close by the window manager becomes a close request that the
// program takes in turn; only Close() really closes it. Escape pressed anywhere in it, and
// left alone by the control that has the focus, is reported.
class Frame : public QWidget {
 public:
  Frame(std::function<void()> on_close_request, std::function<void()> on_activate,
        std::function<void()> on_escape)
      : on_close_request_(std::move(on_close_request)),
        on_activate_(std::move(on_activate)),
        on_escape_(std::move(on_escape)) {}

  void CloseForGood() {
    closing_ = true;
    close();
  }

 protected:
  void closeEvent(QCloseEvent* event) override {
    if (closing_) {
      event->accept();
      return;
    }
    event->ignore();
    on_close_request_();
  }

  bool event(QEvent* event) override {
    if (event->type() == QEvent::WindowActivate) on_activate_();
    return QWidget::event(event);
  }

  void keyPressEvent(QKeyEvent* event) override {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
      on_escape_();
      return;
    }
    QWidget::keyPressEvent(event);
  }

 private:
  std::function<void()> on_close_request_;
  std::function<void()> on_activate_;
  std::function<void()> on_escape_;
  bool closing_ = false;
};

// The rows of a list box, read from its bound list when the view asks for them.
class RowsModel : public QAbstractListModel {
 public:
  RowsModel(std::function<int32_t()> count, std::function<std::string(int32_t)> row,
            QObject* parent)
      : QAbstractListModel(parent), count_(std::move(count)), row_(std::move(row)) {
    Reload();
  }

  // Takes the list's current length; rows are read again as the view needs them.
  void Reload() {
    beginResetModel();
    rows_ = count_();
    endResetModel();
  }

  int rowCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : rows_; }

  QVariant data(const QModelIndex& index, int role) const override {
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rows_) return {};
    return FromBytes(row_(index.row() + 1));
  }

 private:
  std::function<int32_t()> count_;
  std::function<std::string(int32_t)> row_;
  int32_t rows_ = 0;
};

struct Control {
  const ControlLayout* layout = nullptr;
  QWidget* widget = nullptr;  // owned by the frame
  std::size_t max_length = 0;
  std::function<std::string()> load_text;
  std::function<void(std::string_view)> store_text;
  std::function<int32_t()> load_number;
  RowsModel* rows = nullptr;  // owned by the widget
};

class QtWindowSystem final : public WindowSystem {
 public:
  QtWindowSystem() { QApplication::setQuitOnLastWindowClosed(false); }
  ~QtWindowSystem() override { Close(); }

  void Build(const WindowLayout& layout) override;
  void BindText(int32_t control, std::function<std::string()> load,
                std::function<void(std::string_view)> store) override;
  void BindNumber(int32_t control, std::function<int32_t()> load) override;
  void BindRows(int32_t control, std::function<int32_t()> count,
                std::function<std::string(int32_t)> row) override;
  void Open() override;
  std::optional<Event> NextEvent() override;
  void SetText(int32_t control, std::string_view text) override;
  void SetVisible(int32_t control, bool visible) override;
  void Display(int32_t control) override;
  void DisplayAll() override;
  void SetFocus(int32_t control) override;
  void SetEnabled(int32_t control, bool enabled) override;
  void PostCloseRequest() override { Post(std::nullopt); }
  void Close() override;
  NativeHandle Handle() override;
  void Beep() override { QApplication::beep(); }
  int32_t ShowMessage(const Message& message) override;
  void StartWork(std::function<void()> work) override;
  void WaitForWork() override;
  void PostCall(std::function<void()> call) override { calls_.Post(std::move(call)); }
  void Call(const std::function<void()>& call) override { calls_.Call(call); }

 private:
  // nullopt stands for a close request.
  void Post(std::optional<Event> event);
  Control* Find(int32_t number);
  QWidget* MakeWidget(const ControlLayout& layout, Control& control);
  void LoadFromVariable(Control& control);
  void Edited(Control& control, const QString& text);
  static void PaintNow(QWidget* widget);
  void WorkEnded();

  std::unique_ptr<Frame> frame_;
  std::vector<Control> controls_;
  QPushButton* default_button_ = nullptr;
  QPointer<QWidget> focus_given_up_;  // the control that gave the focus to the frame
  std::deque<std::optional<Event>> pending_;
  QEventLoop* waiting_ = nullptr;
  bool close_taken_ = false;

  WindowThreadCalls calls_;
  std::unique_ptr<WorkThread> work_;
  QEventLoop* waiting_for_work_ = nullptr;
};

void QtWindowSystem::Build(const WindowLayout& layout) {
  Close();
  pending_.clear();
  close_taken_ = false;
  frame_ = std::make_unique<Frame>([this] { Post(std::nullopt); },
                                   [this] { Post(Event{.kind = EventKind::kGainFocus}); },
                                   [this] { Post(Event{.kind = EventKind::kCancel}); });
  frame_->setWindowTitle(FromBytes(layout.title));
  frame_->setWindowIcon(ProgramIcon(IconResourceName(layout.icon)));
  frame_->setFont(DialogFont(layout.font_family, layout.font_points));
  const DialogBase base = MeasureDialogBase(frame_->font());
  frame_->setFixedSize(WindowPixelsX(base, layout.width), WindowPixelsY(base, layout.height));

  controls_.clear();
  controls_.reserve(layout.controls.size());
  default_button_ = nullptr;
  QWidget* previous = nullptr;
  for (const ControlLayout& control_layout : layout.controls) {
    Control& control = controls_.emplace_back();
    control.layout = &control_layout;
    control.widget = MakeWidget(control_layout, control);
    control.widget->setObjectName(FromBytes(control_layout.name));

    QSize size(WindowPixelsX(base, control_layout.width),
               WindowPixelsY(base, control_layout.height));
    if (control_layout.width == 0 || control_layout.height == 0) {
      const QSize fitted = control.widget->sizeHint();
      if (control_layout.width == 0) size.setWidth(fitted.width());
      if (control_layout.height == 0) size.setHeight(fitted.height());
    }
    control.widget->setGeometry(WindowPixelsX(base, control_layout.x),
                                WindowPixelsY(base, control_layout.y), size.width(), size.height());
    control.widget->setHidden(control_layout.hidden);
    if (previous != nullptr) QWidget::setTabOrder(previous, control.widget);
    previous = control.widget;
  }
}

QWidget* QtWindowSystem::MakeWidget(const ControlLayout& layout, Control& control) {
  const QString text = FromBytes(layout.text);
  const int32_t number = layout.number;
  switch (layout.kind) {
    case ControlKind::kPrompt:
    case ControlKind::kStaticText: {
      auto* label = new QLabel(text, frame_.get());
      label->setTextFormat(Qt::PlainText);
      return label;
    }
    case ControlKind::kEntry: {
      auto* entry = new QLineEdit(text, frame_.get());
      control.max_length = PictureMaxLength(layout.picture);
      QObject::connect(entry, &QLineEdit::textEdited, entry, [this, number](const QString& edited) {
        if (Control* edited_control = Find(number)) Edited(*edited_control, edited);
      });
      QObject::connect(entry, &QLineEdit::returnPressed, entry, [this] {
        if (default_button_ != nullptr && default_button_->isEnabled()) default_button_->click();
      });
      return entry;
    }
    case ControlKind::kButton: {
      auto* button = new QPushButton(text, frame_.get());
      button->setIcon(ProgramIcon(IconResourceName(layout.icon)));
      if (layout.is_default) {
        button->setDefault(true);
        default_button_ = button;
      }
      QObject::connect(button, &QPushButton::clicked, button, [this, number] {
        Post(Event{.kind = EventKind::kAccepted, .control = number});
      });
      return button;
    }
    case ControlKind::kProgressBar: {
      auto* bar = new QProgressBar(frame_.get());
      bar->setRange(layout.range_low, layout.range_high);
      bar->setValue(layout.range_low);
      bar->setTextVisible(false);
      return bar;
    }
    case ControlKind::kListBox:
      return new QListView(frame_.get());
  }
  return new QWidget(frame_.get());
}

void QtWindowSystem::BindText(int32_t control, std::function<std::string()> load,
                              std::function<void(std::string_view)> store) {
  if (Control* found = Find(control)) {
    found->load_text = std::move(load);
    found->store_text = std::move(store);
  }
}

void QtWindowSystem::BindNumber(int32_t control, std::function<int32_t()> load) {
  if (Control* found = Find(control)) found->load_number = std::move(load);
}

void QtWindowSystem::BindRows(int32_t control, std::function<int32_t()> count,
                              std::function<std::string(int32_t)> row) {
  Control* found = Find(control);
  auto* view = found == nullptr ? nullptr : qobject_cast<QListView*>(found->widget);
  if (view == nullptr) return;
  found->rows = new RowsModel(std::move(count), std::move(row), view);
  view->setModel(found->rows);
}

void QtWindowSystem::Open() {
  if (!frame_) return;
  frame_->show();
  frame_->activateWindow();
  Post(Event{.kind = EventKind::kOpenWindow});
}

std::optional<Event> QtWindowSystem::NextEvent() {
  if (close_taken_ || !frame_) return std::nullopt;
  while (pending_.empty()) {
    QEventLoop loop;
    waiting_ = &loop;
    loop.exec();
    waiting_ = nullptr;
  }
  const std::optional<Event> next = pending_.front();
  pending_.pop_front();
  if (!next) {
    close_taken_ = true;
    pending_.clear();
  }
  return next;
}

void QtWindowSystem::Post(std::optional<Event> event) {
  if (close_taken_) return;
  pending_.push_back(event);
  if (waiting_ != nullptr) waiting_->quit();
}

void QtWindowSystem::SetText(int32_t control, std::string_view text) {
  Control* found = Find(control);
  if (found == nullptr) return;
  const QString qtext = FromBytes(text);
  if (auto* label = qobject_cast<QLabel*>(found->widget)) {
    label->setText(qtext);
  } else if (auto* entry = qobject_cast<QLineEdit*>(found->widget)) {
    entry->setText(qtext);
  } else if (auto* button = qobject_cast<QPushButton*>(found->widget)) {
    button->setText(qtext);
  }
}

void QtWindowSystem::SetVisible(int32_t control, bool visible) {
  Control* found = Find(control);
  if (found == nullptr) return;
  found->widget->setVisible(visible);
  if (visible) {
    PaintNow(found->widget);
  } else if (frame_->isVisible()) {
    frame_->repaint(found->widget->geometry());
  }
}

void QtWindowSystem::Display(int32_t control) {
  Control* found = Find(control);
  if (found == nullptr) return;
  LoadFromVariable(*found);
  PaintNow(found->widget);
}

void QtWindowSystem::DisplayAll() {
  if (!frame_) return;
  for (Control& control : controls_) LoadFromVariable(control);
  PaintNow(frame_.get());
}

void QtWindowSystem::LoadFromVariable(Control& control) {
  if (control.load_text) {
    const QString text = FromBytes(control.load_text());
    if (auto* entry = qobject_cast<QLineEdit*>(control.widget)) {
      // Setting the same text again would move the cursor under the user's hands.
      if (entry->text() != text) entry->setText(text);
    } else if (auto* label = qobject_cast<QLabel*>(control.widget)) {
      label->setText(text);
    }
  }
  if (control.load_number) {
    if (auto* bar = qobject_cast<QProgressBar*>(control.widget))
      bar->setValue(control.load_number());
  }
  if (control.rows != nullptr) control.rows->Reload();
}

void QtWindowSystem::Edited(Control& control, const QString& text) {
  const QByteArray bytes = text.toUtf8();
  // A value that its variable could not hold whole is refused, never cut.
  const bool too_long =
      control.max_length != 0 && static_cast<std::size_t>(bytes.size()) > control.max_length;
  if (too_long || bytes.contains('\0')) {
    Post(Event{.kind = EventKind::kRejected, .control = control.layout->number});
    return;
  }
  if (control.store_text) {
    control.store_text(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
  }
}

void QtWindowSystem::SetFocus(int32_t control) {
  const auto count = controls_.size();
  for (std::size_t start = 0; start < count; ++start) {
    if (controls_[start].layout->number != control) continue;
    for (std::size_t step = 0; step < count; ++step) {
      QWidget* widget = controls_[(start + step) % count].widget;
      if (widget->focusPolicy() != Qt::NoFocus && widget->isEnabled() && !widget->isHidden()) {
        widget->setFocus(Qt::OtherFocusReason);
        return;
      }
    }
    return;
  }
}

void QtWindowSystem::SetEnabled(int32_t control, bool enabled) {
  Control* found = Find(control);
  if (found == nullptr) return;
  QWidget* widget = found->widget;
  if (!enabled && frame_->focusWidget() == widget) {
    // Left to itself, Qt would pass the focus on to the next control, which may be one that
    // a typed key would press.
    frame_->setFocus(Qt::OtherFocusReason);
    focus_given_up_ = widget;
  }
  widget->setEnabled(enabled);
  if (enabled && focus_given_up_ == widget) {
    focus_given_up_ = nullptr;
    if (frame_->focusWidget() == nullptr || frame_->focusWidget() == frame_.get()) {
      widget->setFocus(Qt::OtherFocusReason);
    }
  }
}

void QtWindowSystem::Close() {
  WaitForWork();
  if (frame_) frame_->CloseForGood();
  controls_.clear();
  default_button_ = nullptr;
  focus_given_up_ = nullptr;
  frame_.reset();
}

void QtWindowSystem::StartWork(std::function<void()> work) {
  work_ = std::make_unique<WorkThread>(std::move(work), calls_, [this] { WorkEnded(); });
  work_->start();
}

void QtWindowSystem::WorkEnded() {
  // The work thread handed this over as the last thing it did with our objects.
  work_->wait();
  work_.reset();
  if (waiting_for_work_ != nullptr) {
    waiting_for_work_->quit();
  } else {
    Post(Event{.kind = EventKind::kWorkDone});
  }
}

void QtWindowSystem::WaitForWork() {
  if (!work_) return;
  QEventLoop loop;
  waiting_for_work_ = &loop;
  loop.exec();
  waiting_for_work_ = nullptr;
}

NativeHandle QtWindowSystem::Handle() {
  return frame_ ? static_cast<NativeHandle>(frame_->winId()) : 0;
}

int32_t QtWindowSystem::ShowMessage(const Message& message) {
  return ShowMessageBox(message, frame_.get());
}

Control* QtWindowSystem::Find(int32_t number) {
  for (Control& control : controls_) {
    if (control.layout->number == number) return &control;
  }
  return nullptr;
}

void QtWindowSystem::PaintNow(QWidget* widget) {
  if (widget->isVisible()) widget->repaint();
}

}  // namespace

std::unique_ptr<WindowSystem> NewQtWindowSystem() {
  return std::make_unique<QtWindowSystem>();
}

}  // namespace kb::platform
