#include "gui/message_box_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <string>

#include "gui/dialog_style.h"

namespace kb {
namespace {

Message MessageWith(std::string text, std::string buttons = "", std::string icon = "") {
  Message message;
  message.text = std::move(text);
  message.buttons = std::move(buttons);
  message.icon = std::move(icon);
  return message;
}

QString TextOf(const MessageBoxDialog& box) {
  const auto* text = box.findChild<QWidget*>(QStringLiteral("text"));
  return text == nullptr ? QString() : text->accessibleName();
}

// Shows `message` modally and, once the box is up, lets `act` work on it. Returns what
// ShowMessageBox returned, or -1 when `act` left the box open (it is then ended).
int32_t ShowAndAct(const Message& message, QWidget* frame,
                   const std::function<void(MessageBoxDialog&)>& act) {
  QTimer acting;
  acting.setSingleShot(true);
  QObject::connect(&acting, &QTimer::timeout, [&] {
    auto* box = dynamic_cast<MessageBoxDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(QTest::qWaitForWindowActive(box));
    act(*box);
    if (box->isVisible()) box->done(-1);
  });
  acting.start(0);
  return ShowMessageBox(message, frame);
}

// The lines are the content's (its own test): each takes a line of the box.
TEST(MessageBoxDialogTest, BarsBreakLines) {
  MessageBoxDialog two_lines(MessageWith("A|B"), nullptr);
  MessageBoxDialog one_line(MessageWith("A"), nullptr);
  EXPECT_EQ(TextOf(two_lines), QStringLiteral("A\nB"));
  EXPECT_EQ(two_lines.layout().text.height, 2 * one_line.layout().text.height);
}

TEST(MessageBoxDialogTest, LongTextWrapsWithinTwoHundredUnits) {
  const std::string words(60, 'w');
  std::string text;
  for (int i = 0; i < 10; ++i) text += words.substr(0, 9) + " ";
  MessageBoxDialog box(MessageWith(text), nullptr);
  const DialogBase base = MeasureDialogBase(box.font());
  EXPECT_LE(box.layout().text.width, BoxPixelsX(base, kBoxWrapUnits) + 10);
  EXPECT_GT(box.layout().text.height, QFontMetrics(box.font()).height());
}

// Only a button ends the box, with its result: Enter presses the default one, which has the
// focus, a click the one clicked, Escape Cancel where there is one; without Cancel, Escape
// and the window manager's close leave the box up. (Which buttons a message gives, and
// their results, are the content's test.)
TEST(MessageBoxDialogTest, OnlyAButtonEndsTheBoxWithItsResult) {
  const auto key = [](Qt::Key key) {
    return [key](MessageBoxDialog& shown) { QTest::keyClick(&shown, key); };
  };
  const auto click = [](std::size_t index) {
    return [index](MessageBoxDialog& shown) {
      ASSERT_LT(index, shown.buttons().size());
      QTest::mouseClick(shown.buttons()[index], Qt::LeftButton);
    };
  };
  const auto enter_on_default = [](MessageBoxDialog& shown) {
    ASSERT_EQ(shown.buttons().size(), 1u);
    EXPECT_TRUE(shown.buttons()[0]->isDefault());
    EXPECT_TRUE(shown.buttons()[0]->hasFocus());
    QTest::keyClick(&shown, Qt::Key_Return);
  };
  const auto neither_escape_nor_close = [](MessageBoxDialog& shown) {
    QTest::keyClick(&shown, Qt::Key_Escape);
    shown.close();
    EXPECT_TRUE(shown.isVisible());
  };
  const std::string ok_cancel = std::to_string(button::kOk | button::kCancel);
  struct Case {
    std::string buttons;
    std::function<void(MessageBoxDialog&)> act;
    int32_t result;
  };
  for (const Case& c : {Case{"", enter_on_default, 1}, Case{"", click(0), 1},
                        Case{"", neither_escape_nor_close, -1},
                        Case{ok_cancel, key(Qt::Key_Escape), button::kCancel},
                        Case{"Keep|Throw away|Cancel", click(1), 2},
                        Case{"Keep|Throw away|Cancel", key(Qt::Key_Escape), 3}}) {
    EXPECT_EQ(ShowAndAct(MessageWith("x", c.buttons), nullptr, c.act), c.result) << c.buttons;
  }
  const MessageBoxDialog captions(MessageWith("x", "Keep|Throw away|Cancel"), nullptr);
  EXPECT_EQ(captions.buttons()[1]->text(), QStringLiteral("Throw away"));
}

TEST(MessageBoxDialogTest, StopIconTakesRoomOnlyWhenAsked) {
  MessageBoxDialog with_icon(MessageWith("x", "", std::string(kStopIcon)), nullptr);
  MessageBoxDialog without_icon(MessageWith("x"), nullptr);

  const auto* icon = with_icon.findChild<QLabel*>(QStringLiteral("icon"));
  ASSERT_NE(icon, nullptr);
  EXPECT_FALSE(icon->pixmap().isNull());
  EXPECT_EQ(without_icon.findChild<QLabel*>(QStringLiteral("icon")), nullptr);

  const DialogBase base = MeasureDialogBase(without_icon.font());
  EXPECT_EQ(without_icon.layout().text.x, BoxPixelsX(base, 5));
  EXPECT_EQ(with_icon.layout().text.x, 2 * BoxPixelsX(base, 5) + icon->width());
}

TEST(MessageBoxDialogTest, SizesFollowTheDialogFont) {
  MessageBoxDialog box(MessageWith("x", std::to_string(button::kYes | button::kNo)), nullptr);
  const DialogBase base = MeasureDialogBase(box.font());
  ASSERT_EQ(box.buttons().size(), 2u);
  for (const QPushButton* button : box.buttons()) {
    EXPECT_EQ(button->width(), BoxPixelsX(base, 50));
    EXPECT_EQ(button->height(), BoxPixelsY(base, 14));
    EXPECT_EQ(button->y(), BoxPixelsY(base, 45));
  }
  EXPECT_EQ(box.buttons()[1]->x() - box.buttons()[0]->x(),
            BoxPixelsX(base, 50) + BoxPixelsX(base, 5));
  EXPECT_EQ(box.height(), BoxPixelsY(base, 45) + BoxPixelsY(base, 14) + BoxPixelsY(base, 5));
}

TEST(MessageBoxDialogTest, EmptyCaptionAndNoCloseButton) {
  MessageBoxDialog box(MessageWith("x"), nullptr);
  EXPECT_TRUE(box.windowTitle().isEmpty());
  EXPECT_FALSE(box.windowFlags().testFlag(Qt::WindowCloseButtonHint));
  EXPECT_FALSE(box.windowFlags().testFlag(Qt::WindowSystemMenuHint));
}

TEST(MessageBoxDialogTest, CentresOnTheFrameAndGivesTheFocusBack) {
  QWidget frame;
  auto* field = new QLineEdit(&frame);
  frame.setGeometry(100, 120, 400, 200);
  frame.show();
  frame.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&frame));
  field->setFocus();
  ASSERT_TRUE(field->hasFocus());

  ShowAndAct(MessageWith("x"), &frame, [&](MessageBoxDialog& shown) {
    EXPECT_EQ(QApplication::activeModalWidget(), &shown);
    const QPoint box_centre = shown.geometry().center();
    const QPoint frame_centre = frame.frameGeometry().center();
    EXPECT_LE(std::abs(box_centre.x() - frame_centre.x()), 2);
    EXPECT_LE(std::abs(box_centre.y() - frame_centre.y()), 2);
    QTest::keyClick(&shown, Qt::Key_Return);
  });
  EXPECT_TRUE(QTest::qWaitFor([&] { return field->hasFocus(); }));
}

}  // namespace
}  // namespace kb
