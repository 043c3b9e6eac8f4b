#include "gui/qt_window_system.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <string>

#include "gui/dialog_style.h"

namespace kb::platform {
namespace {

constexpr int32_t kPrompt = 1;
constexpr int32_t kEntry = 2;
constexpr int32_t kGo = 3;
constexpr int32_t kBar = 4;
constexpr int32_t kStatus = 5;
constexpr int32_t kRows = 6;

constexpr ControlLayout kControls[] = {
    {.number = kPrompt,
     .name = "Prompt",
     .kind = ControlKind::kPrompt,
     .text = "Name:",
     .x = 3,
     .y = 5},
    {.number = kEntry,
     .name = "Entry",
     .kind = ControlKind::kEntry,
     .x = 40,
     .y = 5,
     .width = 100,
     .height = 10,
     .picture = "s5"},
    {.number = kGo,
     .name = "Go",
     .kind = ControlKind::kButton,
     .text = "&Go",
     .x = 40,
     .y = 35,
     .width = 48,
     .height = 14,
     .icon = "ok.ico",
     .is_default = true},
    {.number = kBar,
     .name = "Bar",
     .kind = ControlKind::kProgressBar,
     .x = 40,
     .y = 17,
     .width = 100,
     .height = 8,
     .range_low = 0,
     .range_high = 100,
     .hidden = true},
    {.number = kStatus,
     .name = "Status",
     .kind = ControlKind::kStaticText,
     .text = "ready",
     .x = 40,
     .y = 26,
     .width = 100,
     .height = 10},
    {.number = kRows,
     .name = "Rows",
     .kind = ControlKind::kListBox,
     .x = 40,
     .y = 1,
     .width = 64,
     .height = 3,
     .hidden = true},
};

constexpr WindowLayout kLayout{.title = "Test window",
                               .width = 150,
                               .height = 51,
                               .font_family = "No Such Family Anywhere",
                               .font_points = 8,
                               .controls = kControls};

class QtWindowSystemTest : public testing::Test {
 protected:
  void SetUp() override {
    windows_ = NewQtWindowSystem();
    windows_->Build(kLayout);
    windows_->BindText(
        kEntry, [this] { return entry_variable_; },
        [this](std::string_view value) { entry_variable_ = value; });
  }

  QWidget* Frame() { return QWidget::find(static_cast<WId>(windows_->Handle())); }
  template <typename Widget>
  Widget* Child(const char* name) {
    return Frame()->findChild<Widget*>(QString::fromLatin1(name));
  }

  void OpenAndActivate() {
    windows_->Open();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Frame()));
    const std::optional<Event> opened = NextEventSoon();
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->kind, EventKind::kOpenWindow);
  }

  // The next event, or none after two seconds (a close request is posted then).
  std::optional<Event> NextEventSoon() {
    QTimer give_up;
    give_up.setSingleShot(true);
    QObject::connect(&give_up, &QTimer::timeout, [this] { windows_->PostCloseRequest(); });
    give_up.start(2000);
    return windows_->NextEvent();
  }

  // The next event that is not the window gaining the focus.
  std::optional<Event> NextInputEvent() {
    std::optional<Event> event = NextEventSoon();
    while (event && event->kind == EventKind::kGainFocus) event = NextEventSoon();
    return event;
  }

  std::unique_ptr<WindowSystem> windows_;
  std::string entry_variable_;
};

TEST_F(QtWindowSystemTest, BuildsTheWindowInDialogUnitsOfItsFont) {
  QWidget* frame = Frame();
  ASSERT_NE(frame, nullptr);
  EXPECT_FALSE(frame->isVisible());
  EXPECT_EQ(frame->windowTitle(), QStringLiteral("Test window"));
  EXPECT_EQ(frame->font().family(), QFontDatabase::systemFont(QFontDatabase::GeneralFont).family());
  EXPECT_EQ(frame->font().pointSize(), 8);

  // As wide as the table says where its texts fit, and as high as its controls need: each
  // at least as wide as the table makes it and as large as it asks to be, in the table's
  // places. (The table lets the status line reach a unit into the button below; it ends
  // where the button starts.)
  const DialogBase base = MeasureDialogBase(frame->font());
  EXPECT_EQ(frame->width(), WindowPixelsX(base, 150));
  EXPECT_GE(frame->height(), WindowPixelsY(base, 51));
  for (const ControlLayout& control : kControls) {
    if (control.hidden) continue;
    const QWidget* widget = Child<QWidget>(control.name.data());
    EXPECT_EQ(widget->x(), WindowPixelsX(base, control.x)) << control.name;
    EXPECT_GE(widget->width(),
              std::max(WindowPixelsX(base, control.width), widget->minimumSizeHint().width()))
        << control.name;
    EXPECT_GE(widget->height(), widget->minimumSizeHint().height()) << control.name;
  }
  const auto bottom_of = [this](const char* name) {
    return Child<QWidget>(name)->geometry().bottom();
  };
  const auto top_of = [this](const char* name) { return Child<QWidget>(name)->y(); };
  EXPECT_EQ(top_of("Prompt"), top_of("Entry"));
  EXPECT_LT(bottom_of("Entry"), top_of("Bar"));
  EXPECT_LT(bottom_of("Bar"), top_of("Status"));
  EXPECT_LT(bottom_of("Status"), top_of("Go"));

  EXPECT_TRUE(Child<QProgressBar>("Bar")->isHidden());
  EXPECT_TRUE(Child<QListView>("Rows")->isHidden());
  EXPECT_EQ(Child<QLabel>("Status")->text(), QStringLiteral("ready"));
}

TEST_F(QtWindowSystemTest, OpensAndPutsTheFocusPastThePrompt) {
  OpenAndActivate();
  EXPECT_TRUE(Frame()->isVisible());
  windows_->SetFocus(kPrompt);
  EXPECT_TRUE(Child<QLineEdit>("Entry")->hasFocus());
}

TEST_F(QtWindowSystemTest, EntryStoresWhatPassesAndRefusesTheRest) {
  OpenAndActivate();
  auto* entry = Child<QLineEdit>("Entry");
  windows_->SetFocus(kEntry);

  QTest::keyClicks(entry, "abcde");
  EXPECT_EQ(entry_variable_, "abcde");

  QTest::keyClick(entry, Qt::Key_F);
  EXPECT_EQ(entry_variable_, "abcde");
  std::optional<Event> refused = NextInputEvent();
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->kind, EventKind::kRejected);
  EXPECT_EQ(refused->control, kEntry);
  EXPECT_EQ(entry->text(), QStringLiteral("abcdef"));

  windows_->Display(kEntry);
  EXPECT_EQ(entry->text(), QStringLiteral("abcde"));

  // The picture counts characters, not bytes: five letters of two bytes each pass, six do not.
  entry->clear();
  QApplication::clipboard()->setText(QStringLiteral("\u00e9\u00e9\u00e9\u00e9\u00e9"));
  QTest::keySequence(entry, QKeySequence::Paste);
  EXPECT_EQ(entry_variable_, "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9");
  entry->clear();
  QApplication::clipboard()->setText(QString(6, QChar(0xE9)));
  QTest::keySequence(entry, QKeySequence::Paste);
  refused = NextInputEvent();
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->kind, EventKind::kRejected);
  EXPECT_EQ(entry_variable_, "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9");
}

TEST_F(QtWindowSystemTest, CloseRequestsEndTheEventsInTurn) {
  OpenAndActivate();
  QTest::mouseClick(Child<QPushButton>("Go"), Qt::LeftButton);
  windows_->PostCloseRequest();
  QTest::mouseClick(Child<QPushButton>("Go"), Qt::LeftButton);

  const std::optional<Event> pressed = NextInputEvent();
  ASSERT_TRUE(pressed);
  EXPECT_EQ(pressed->control, kGo);
  EXPECT_FALSE(windows_->NextEvent());
  EXPECT_FALSE(windows_->NextEvent());

  EXPECT_TRUE(Frame()->isVisible());
  windows_->Close();
  EXPECT_EQ(windows_->Handle(), 0u);
}

TEST_F(QtWindowSystemTest, DisplayCopiesBoundVariablesAndVisibilityIsImmediate) {
  int32_t percent = 0;
  int32_t rows = 0;
  windows_->BindNumber(kBar, [&] { return percent; });
  windows_->BindRows(
      kRows, [&] { return rows; }, [](int32_t n) { return "row " + std::to_string(n); });
  OpenAndActivate();

  auto* bar = Child<QProgressBar>("Bar");
  windows_->SetVisible(kBar, true);
  EXPECT_TRUE(bar->isVisible());
  percent = 42;
  windows_->Display(kBar);
  EXPECT_EQ(bar->value(), 42);
  windows_->SetVisible(kBar, false);
  EXPECT_FALSE(bar->isVisible());

  rows = 3;
  entry_variable_ = "xyz";
  windows_->DisplayAll();
  auto* list = Child<QListView>("Rows");
  EXPECT_EQ(list->model()->rowCount(), 3);
  EXPECT_EQ(list->model()->index(2, 0).data().toString(), QStringLiteral("row 3"));
  EXPECT_EQ(Child<QLineEdit>("Entry")->text(), QStringLiteral("xyz"));

  windows_->SetText(kStatus, "");
  EXPECT_TRUE(Child<QLabel>("Status")->text().isEmpty());
}

TEST_F(QtWindowSystemTest, DisabledControlHandsTheFocusToTheWindowWhichReportsEscape) {
  OpenAndActivate();
  auto* entry = Child<QLineEdit>("Entry");
  windows_->SetFocus(kEntry);
  windows_->SetEnabled(kEntry, false);
  windows_->SetEnabled(kGo, false);
  EXPECT_EQ(QApplication::focusWidget(), Frame());

  // Keys typed meanwhile reach no control: no text, no press of the default button.
  for (const Qt::Key key : {Qt::Key_X, Qt::Key_Return, Qt::Key_Space, Qt::Key_Escape}) {
    QTest::keyClick(Frame()->windowHandle(), key);
  }
  const std::optional<Event> escape = NextInputEvent();
  ASSERT_TRUE(escape);
  EXPECT_EQ(escape->kind, EventKind::kCancel);
  EXPECT_EQ(entry_variable_, "");

  windows_->SetEnabled(kGo, true);
  windows_->SetEnabled(kEntry, true);
  EXPECT_TRUE(entry->hasFocus());
}

TEST_F(QtWindowSystemTest, UpAndDownInAnEntryAskForEarlierAndLaterValues) {
  OpenAndActivate();
  windows_->SetFocus(kEntry);
  for (const auto& [key, kind] : {std::pair{Qt::Key_Up, EventKind::kRecallOlder},
                                  std::pair{Qt::Key_Down, EventKind::kRecallNewer}}) {
    QTest::keyClick(Child<QLineEdit>("Entry"), key);
    const std::optional<Event> recall = NextInputEvent();
    ASSERT_TRUE(recall);
    EXPECT_EQ(recall->kind, kind);
    EXPECT_EQ(recall->control, kEntry);
  }
}

TEST_F(QtWindowSystemTest, WorkHandsCallsOverInOrderAndEndsAfterThem) {
  OpenAndActivate();
  constexpr int kCalls = 2000;
  int ran = 0;  // the window's thread only
  bool all_on_the_window_thread = true;
  const auto work = [&] {
    for (int call = 0; call < kCalls; ++call) {
      const auto step = [&, call] {
        all_on_the_window_thread &= QThread::currentThread() == QApplication::instance()->thread();
        EXPECT_EQ(ran, call);
        ++ran;
      };
      // Every hundredth call waits until it has run, after every call before it.
      if (call % 100 == 0) {
        windows_->Call(step);
      } else {
        windows_->PostCall(step);
      }
    }
  };

  windows_->StartWork(work);
  const std::optional<Event> done = NextInputEvent();
  ASSERT_TRUE(done);
  EXPECT_EQ(done->kind, EventKind::kWorkDone);
  EXPECT_EQ(ran, kCalls);

  // Waited for once the events have ended, work still gets its calls run, and no event.
  ran = 0;
  windows_->StartWork(work);
  windows_->PostCloseRequest();
  EXPECT_FALSE(windows_->NextEvent());
  windows_->WaitForWork();
  EXPECT_EQ(ran, kCalls);
  EXPECT_TRUE(all_on_the_window_thread);
}

}  // namespace
}  // namespace kb::platform
