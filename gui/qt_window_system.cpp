#include "gui/qt_window_system.h"

#include <QAbstractListModel>
#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QGridLayout>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <algorithm>
#include <deque>
#include <utility>
#include <vector>

#include "gui/dialog_style.h"
#include "gui/message_box_dialog.h"
#include "gui/window_thread.h"
#include "support/text/utf8.h"

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

  // Runs `on_resize` after each change of the window's size.
  void OnResize(std::function<void()> on_resize) { on_resize_ = std::move(on_resize); }

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

  void resizeEvent(QResizeEvent* event) override {
    QWidget::resizeEvent(event);
    if (on_resize_) on_resize_();
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
  std::function<void()> on_resize_;
  bool closing_ = false;
};

// An entry that reports Up and Down, which a line of text has no use for.
class Entry : public QLineEdit {
 public:
  Entry(const QString& text, QWidget* parent, std::function<void(EventKind)> on_recall)
      : QLineEdit(text, parent), on_recall_(std::move(on_recall)) {}

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    if (event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier) {
      if (event->key() == Qt::Key_Up) return on_recall_(EventKind::kRecallOlder);
      if (event->key() == Qt::Key_Down) return on_recall_(EventKind::kRecallNewer);
    }
    QLineEdit::keyPressEvent(event);
  }

 private:
  std::function<void(EventKind)> on_recall_;
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
  // The size the layout table gives the control, in pixels: a button's least.
  QSize table_size;
  std::size_t max_length = 0;
  std::function<std::string()> load_text;
  std::function<void(std::string_view)> store_text;
  std::function<int32_t()> load_number;
  RowsModel* rows = nullptr;  // owned by the widget
};

struct Grid;

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
  void SetTitle(std::string_view title) override;
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
  // Makes the widget of each control of `layout` and puts it in its cells of `cells`.
  void PlaceControls(const WindowLayout& layout, const Grid& grid, const DialogBase& base,
                     QGridLayout& cells);
  void LoadFromVariable(Control& control);
  int ScreenWidth() const;
  // Lets a label or a button show its whole text on one line; FitWindow wraps labels that
  // make the window wider than the screen.
  void FitLabel(Control& control);
  void FitButton(Control& control);
  // Makes the window large enough for every control's text, after a text changed.
  void FitWindow();
  void Edited(Control& control, const QString& text);
  static void PaintNow(QWidget* widget);
  void WorkEnded();

  std::unique_ptr<Frame> frame_;
  bool fitting_ = false;
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

// The window's grid: the layout table's positions and ends (in dialog units), sorted, each
// column or row the stretch between two of them. A control covers the columns and rows from
// its position to its end; one fitted to its text ends where the next one begins. Where the
// table lets a control reach into one that starts below it (or else beside it), it ends
// where that one starts, so that no two cover the same cell.
struct Grid {
  struct Extent {
    int32_t x, y, width, height;
  };
  std::vector<Extent> extents;  // of the controls, in the table's order
  std::vector<int32_t> xs;
  std::vector<int32_t> ys;

  explicit Grid(const WindowLayout& layout) {
    for (const ControlLayout& control : layout.controls) {
      extents.push_back({control.x, control.y, control.width, control.height});
    }
    for (Extent& one : extents) {
      if (one.width == 0 || one.height == 0) continue;  // its neighbours end it already
      for (const Extent& other : extents) {
        const bool across =
            other.x < one.x + one.width && one.x < other.x + std::max(other.width, 1);
        const bool along =
            other.y < one.y + one.height && one.y < other.y + std::max(other.height, 1);
        if (&one == &other || !across || !along) continue;
        if (other.y > one.y) {
          one.height = other.y - one.y;
        } else if (other.y == one.y && other.x > one.x) {
          one.width = other.x - one.x;
        }
      }
    }
    xs = {0, layout.width};
    ys = {0, layout.height};
    for (const Extent& control : extents) {
      xs.push_back(control.x);
      ys.push_back(control.y);
      if (control.width > 0) xs.push_back(control.x + control.width);
      if (control.height > 0) ys.push_back(control.y + control.height);
    }
    for (std::vector<int32_t>* ends : {&xs, &ys}) {
      std::sort(ends->begin(), ends->end());
      ends->erase(std::unique(ends->begin(), ends->end()), ends->end());
    }
  }

  // The first and the past-the-end column (or row) of the stretch from `at` for `length`.
  static std::pair<int, int> Cells(const std::vector<int32_t>& ends, int32_t at, int32_t length) {
    const auto first = std::lower_bound(ends.begin(), ends.end(), at);
    auto last = length > 0 ? std::lower_bound(ends.begin(), ends.end(), at + length) : first + 1;
    if (last == ends.end()) --last;
    return {static_cast<int>(first - ends.begin()),
            std::max(static_cast<int>(last - ends.begin()),
                     static_cast<int>(first - ends.begin()) + 1)};
  }
};

// The grid's cells in `frame`, each column and row at least as large as the table makes it.
QGridLayout& MakeCells(QWidget& frame, const Grid& grid, const DialogBase& base) {
  auto* cells = new QGridLayout(&frame);
  cells->setContentsMargins(0, 0, 0, 0);
  cells->setSpacing(0);
  // The window's size is FitWindow's to set, never the layout's on its own.
  cells->setSizeConstraint(QLayout::SetNoConstraint);
  for (std::size_t i = 0; i + 1 < grid.xs.size(); ++i) {
    cells->setColumnMinimumWidth(
        static_cast<int>(i), WindowPixelsX(base, grid.xs[i + 1]) - WindowPixelsX(base, grid.xs[i]));
  }
  for (std::size_t i = 0; i + 1 < grid.ys.size(); ++i) {
    cells->setRowMinimumHeight(
        static_cast<int>(i), WindowPixelsY(base, grid.ys[i + 1]) - WindowPixelsY(base, grid.ys[i]));
  }
  return *cells;
}

void QtWindowSystem::SetTitle(std::string_view title) {
  if (frame_) frame_->setWindowTitle(FromBytes(title));
}

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

  // With the table's texts, each control stands where the table puts it, as large as it
  // says; a text that needs more room widens (or heightens) its columns (or rows), and the
  // window with them. Widening the window widens the columns under an entry that no button
  // stands in.
  const Grid grid(layout);
  QGridLayout& cells = MakeCells(*frame_, grid, base);
  PlaceControls(layout, grid, base, cells);
  frame_->OnResize([this] { FitWindow(); });
  FitWindow();
}

void QtWindowSystem::PlaceControls(const WindowLayout& layout, const Grid& grid,
                                   const DialogBase& base, QGridLayout& cells) {
  std::vector<bool> stretches(grid.xs.size(), false), fixed(grid.xs.size(), false);

  controls_.clear();
  controls_.reserve(layout.controls.size());
  default_button_ = nullptr;
  QWidget* previous = nullptr;
  for (std::size_t index = 0; index < layout.controls.size(); ++index) {
    const ControlLayout& control_layout = layout.controls[index];
    const Grid::Extent& extent = grid.extents[index];
    Control& control = controls_.emplace_back();
    control.layout = &control_layout;
    control.widget = MakeWidget(control_layout, control);
    control.widget->setObjectName(FromBytes(control_layout.name));

    const auto [first_column, end_column] = Grid::Cells(grid.xs, extent.x, extent.width);
    const auto [first_row, end_row] = Grid::Cells(grid.ys, extent.y, extent.height);
    control.table_size = QSize(WindowPixelsX(base, control_layout.width),
                               WindowPixelsY(base, control_layout.height));
    Qt::Alignment alignment;
    if (control_layout.kind == ControlKind::kButton) {
      // A button keeps its size, however wide its columns grow.
      FitButton(control);
      alignment = Qt::AlignLeft | Qt::AlignTop;
      for (int column = first_column; column < end_column; ++column) fixed[column] = true;
    } else if (control_layout.kind == ControlKind::kEntry) {
      for (int column = first_column; column < end_column; ++column) stretches[column] = true;
    }
    if (control_layout.kind == ControlKind::kProgressBar) {
      // The bar comes and goes with the work: its place stays.
      QSizePolicy policy = control.widget->sizePolicy();
      policy.setRetainSizeWhenHidden(true);
      control.widget->setSizePolicy(policy);
    }
    cells.addWidget(control.widget, first_row, first_column, end_row - first_row,
                    end_column - first_column, alignment);
    control.widget->setHidden(control_layout.hidden);
    if (previous != nullptr) QWidget::setTabOrder(previous, control.widget);
    previous = control.widget;
  }
  for (std::size_t column = 0; column < stretches.size(); ++column) {
    if (stretches[column] && !fixed[column]) cells.setColumnStretch(static_cast<int>(column), 1);
  }
}

int QtWindowSystem::ScreenWidth() const {
  QScreen* screen = frame_ ? frame_->screen() : nullptr;
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  return screen != nullptr ? screen->availableGeometry().width() : QWIDGETSIZE_MAX;
}

void QtWindowSystem::FitButton(Control& control) {
  auto* button = qobject_cast<QPushButton*>(control.widget);
  if (button == nullptr) return;
  button->setMinimumSize(QSize(0, 0));
  button->setMinimumSize(control.table_size.expandedTo(button->sizeHint()));
}

void QtWindowSystem::FitLabel(Control& control) {
  auto* label = qobject_cast<QLabel*>(control.widget);
  if (label == nullptr) return;
  label->setWordWrap(false);
  label->setMinimumSize(0, 0);
  label->setMaximumWidth(QWIDGETSIZE_MAX);
}

void QtWindowSystem::FitWindow() {
  if (!frame_ || fitting_) return;
  fitting_ = true;
  QLayout* cells = frame_->layout();
  const auto least_size = [cells] {
    cells->invalidate();
    cells->activate();
    return cells->totalMinimumSize();
  };
  QSize least = least_size();
  // Wider than the screen: the widest labels wrap, each narrowed by what is too much (to no
  // less than a few words), until the window fits or no label can give more.
  const int screen_width = ScreenWidth();
  std::vector<QLabel*> labels;
  for (Control& control : controls_) {
    if (auto* label = qobject_cast<QLabel*>(control.widget); label && !label->isHidden()) {
      labels.push_back(label);
    }
  }
  std::sort(labels.begin(), labels.end(), [](const QLabel* first, const QLabel* second) {
    return first->minimumSizeHint().width() > second->minimumSizeHint().width();
  });
  for (QLabel* label : labels) {
    const int excess = least.width() - screen_width;
    if (excess <= 0) break;
    const int width = std::max(label->minimumSizeHint().width() - excess,
                               20 * label->fontMetrics().averageCharWidth());
    if (width >= label->minimumSizeHint().width()) continue;
    label->setWordWrap(true);
    label->setFixedWidth(width);
    label->setMinimumHeight(label->heightForWidth(width));
    least = least_size();
  }
  // As wide as the user made it and at least as its texts need; as high as they need.
  frame_->setMinimumSize(least);
  frame_->setMaximumHeight(least.height());
  const int width = frame_->isVisible() ? std::max(frame_->width(), least.width()) : least.width();
  frame_->resize(width, least.height());
  // A window not shown yet hears of no resize: its controls are placed here.
  cells->setGeometry(frame_->rect());
  fitting_ = false;
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
      auto* entry = new Entry(text, frame_.get(), [this, number](EventKind recall) {
        Post(Event{.kind = recall, .control = number});
      });
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
      if (!layout.shortcut.empty()) {
        auto* shortcut = new QShortcut(QKeySequence(FromBytes(layout.shortcut)), button);
        QObject::connect(shortcut, &QShortcut::activated, button, [button] {
          if (button->isEnabled()) button->click();
        });
      }
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
    if (label->text() == qtext) return;
    label->setText(qtext);
    FitLabel(*found);
    FitWindow();
  } else if (auto* entry = qobject_cast<QLineEdit*>(found->widget)) {
    entry->setText(qtext);
  } else if (auto* button = qobject_cast<QPushButton*>(found->widget)) {
    button->setText(qtext);
    FitButton(*found);
    FitWindow();
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
      control.max_length != 0 &&
      CountCharacters(std::string_view(bytes.constData(), bytes.size())) > control.max_length;
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
