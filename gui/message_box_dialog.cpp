#include "gui/message_box_dialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <climits>

#include "gui/dialog_style.h"

namespace kb {
namespace {

// The message box speaks in the font the window is laid out in.
constexpr std::string_view kBoxFontFamily = "MS Sans Serif";
constexpr int kBoxFontPoints = 8;

constexpr int kTextFlags = Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap | Qt::TextExpandTabs;

// The message text, drawn with the same wrapping rule it was measured with.
class MessageText : public QWidget {
 public:
  MessageText(const QString& text, QWidget* parent) : QWidget(parent), text_(text) {
    setObjectName(QStringLiteral("text"));
    setAccessibleName(text);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.drawText(rect(), kTextFlags, text_);
  }

 private:
  QString text_;
};

QPixmap IconPixmap(const BoxIcon& icon, const QStyle& style, int size) {
  QIcon image;
  switch (icon.kind) {
    case BoxIcon::Kind::kNone:
    case BoxIcon::Kind::kProgram:  // the program has no numbered icon resources
      break;
    case BoxIcon::Kind::kSystem:
      switch (icon.number) {
        case system_icon::kStop:
          image = style.standardIcon(QStyle::SP_MessageBoxCritical);
          break;
        case system_icon::kQuestion:
          image = style.standardIcon(QStyle::SP_MessageBoxQuestion);
          break;
        case system_icon::kExclamation:
          image = style.standardIcon(QStyle::SP_MessageBoxWarning);
          break;
        case system_icon::kInformation:
          image = style.standardIcon(QStyle::SP_MessageBoxInformation);
          break;
        case system_icon::kApplication:
          image = QApplication::windowIcon();
          break;
        default:
          break;
      }
      break;
    case BoxIcon::Kind::kNamed:
      image = icon.is_file ? QIcon(FromBytes(icon.name)) : ProgramIcon(icon.name);
      break;
  }
  return image.isNull() ? QPixmap() : image.pixmap(size, size);
}

QRect ToQRect(const BoxRect& rect) {
  return {rect.x, rect.y, rect.width, rect.height};
}
BoxRect ToBoxRect(const QRect& rect) {
  return {rect.x(), rect.y(), rect.width(), rect.height()};
}

}  // namespace

MessageBoxDialog::MessageBoxDialog(const Message& message, QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         (message.style != 0 ? Qt::WindowStaysOnTopHint : Qt::WindowFlags())),
      content_(ContentOf(message)) {
  setWindowModality(Qt::ApplicationModal);
  setWindowTitle(FromBytes(content_.caption));
  setFont(DialogFont(kBoxFontFamily, kBoxFontPoints));
  QPalette face = palette();
  face.setColor(QPalette::Window, face.color(QPalette::Button));
  setPalette(face);
  setAutoFillBackground(true);

  const DialogBase base = MeasureDialogBase(font());
  const QString lines = FromBytes(content_.lines);
  const QRect wrapped = fontMetrics().boundingRect(
      QRect(0, 0, BoxPixelsX(base, kBoxWrapUnits), INT_MAX / 2), kTextFlags, lines);

  const int icon_extent = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
  const QPixmap icon = IconPixmap(content_.icon, *style(), icon_extent);
  const BoxSize icon_size =
      icon.isNull() ? BoxSize{} : BoxSize{.width = icon_extent, .height = icon_extent};

  layout_ = LayOutMessageBox(base, {.width = wrapped.width(), .height = wrapped.height()},
                             icon_size, content_.buttons.size());
  setFixedSize(layout_.box.width, layout_.box.height);

  if (!icon.isNull()) {
    auto* icon_label = new QLabel(this);
    icon_label->setObjectName(QStringLiteral("icon"));
    icon_label->setPixmap(icon);
    icon_label->setGeometry(ToQRect(layout_.icon));
  }
  auto* text = new MessageText(lines, this);
  text->setGeometry(ToQRect(layout_.text));

  for (std::size_t i = 0; i < content_.buttons.size(); ++i) {
    const BoxButton& box_button = content_.buttons[i];
    auto* push_button = new QPushButton(FromBytes(box_button.caption), this);
    push_button->setGeometry(ToQRect(layout_.buttons[i]));
    push_button->setAutoDefault(true);
    const int32_t result = box_button.result;
    connect(push_button, &QPushButton::clicked, this, [this, result] { done(result); });
    buttons_.push_back(push_button);
  }
  QPushButton* default_button = buttons_[content_.default_index];
  default_button->setDefault(true);
  default_button->setFocus(Qt::OtherFocusReason);
}

void MessageBoxDialog::reject() {
  if (content_.cancel) buttons_[*content_.cancel]->click();
}

void MessageBoxDialog::closeEvent(QCloseEvent* event) {
  event->ignore();
}

int32_t ShowMessageBox(const Message& message, QWidget* frame) {
  const QPointer<QWidget> had_focus = QApplication::focusWidget();
  const bool frame_shown = frame != nullptr && frame->isVisible();

  MessageBoxDialog box(message, frame_shown ? frame : nullptr);
  QScreen* screen = frame_shown ? frame->screen() : QGuiApplication::primaryScreen();
  if (screen != nullptr) {
    const BoxRect centre_on =
        frame_shown ? ToBoxRect(frame->frameGeometry()) : ToBoxRect(screen->availableGeometry());
    const BoxRect placed =
        PlaceMessageBox(centre_on, box.layout().box, ToBoxRect(screen->availableGeometry()));
    box.move(placed.x, placed.y);
  }
  const int32_t result = box.exec();
  if (had_focus) {
    had_focus->activateWindow();
    had_focus->setFocus(Qt::OtherFocusReason);
  }
  return result;
}

}  // namespace kb
