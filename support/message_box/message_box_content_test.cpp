#include "support/message_box/message_box_content.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/message_box/dialog_units.h"
#include "support/message_box/message_box_layout.h"

namespace kb {
namespace {

using namespace std::string_literals;

Message MessageWith(std::string text, std::string buttons = "", int32_t default_button = 0) {
  Message message;
  message.text = std::move(text);
  message.buttons = std::move(buttons);
  message.default_button = default_button;
  return message;
}

Message ButtonsWith(std::string buttons, int32_t default_button = 0) {
  return MessageWith("x", std::move(buttons), default_button);
}

std::vector<std::string> Captions(const BoxContent& content) {
  std::vector<std::string> captions;
  for (const BoxButton& button : content.buttons) captions.push_back(button.caption);
  return captions;
}

TEST(MessageBoxContentTest, TextLosesTrailingBlanksAndBreaksAtBars) {
  const std::string error_text = "Access Denied" + std::string(67, ' ');
  Message message = MessageWith("Can not open the header file: 5, " + error_text);
  message.caption = "ERROR   ";
  const BoxContent content = ContentOf(message);
  EXPECT_EQ(content.lines, "Can not open the header file: 5, Access Denied");
  EXPECT_EQ(content.caption, "ERROR");

  EXPECT_EQ(ContentOf(MessageWith("A|B")).lines, "A\nB");
  EXPECT_EQ(ContentOf(MessageWith("|A")).lines, "\nA");
  EXPECT_EQ(ContentOf(MessageWith("a & b\tc")).lines, "a & b\tc");
}

TEST(MessageBoxContentTest, EmptyButtonsTextGivesOneDefaultOkWithoutCancel) {
  for (const std::string& buttons : {""s, "   "s, "0"s, "256"s}) {
    const BoxContent content = ContentOf(ButtonsWith(buttons));
    ASSERT_EQ(content.buttons.size(), 1u) << buttons;
    EXPECT_EQ(content.buttons[0].caption, "OK");
    EXPECT_EQ(content.buttons[0].result, button::kOk);
    EXPECT_EQ(content.default_index, 0u);
    EXPECT_FALSE(content.cancel.has_value());
  }
}

TEST(MessageBoxContentTest, MaskGivesStandardButtonsInTableOrder) {
  const int32_t mask = button::kHelp | button::kCancel | button::kNo | button::kYes;
  const BoxContent content = ContentOf(ButtonsWith(std::to_string(mask)));
  EXPECT_EQ(Captions(content), (std::vector<std::string>{"&Yes", "&No", "Cancel", "&Help"}));
  EXPECT_EQ(content.buttons[2].result, button::kCancel);
  EXPECT_EQ(content.buttons[2].command_id, command::kCancel);
  EXPECT_EQ(content.cancel, 2u);
}

TEST(MessageBoxContentTest, DefaultIsTheNamedButtonOnlyWhenPresent) {
  const std::string yes_no = std::to_string(button::kYes | button::kNo);
  EXPECT_EQ(ContentOf(ButtonsWith(yes_no, button::kNo)).default_index, 1u);
  EXPECT_EQ(ContentOf(ButtonsWith(yes_no, button::kCancel)).default_index, 0u);
  EXPECT_EQ(ContentOf(ButtonsWith(yes_no, 3)).default_index, 0u);
}

TEST(MessageBoxContentTest, CaptionListGivesNumberedResults) {
  const BoxContent content = ContentOf(ButtonsWith("Keep|Cancel|Throw away", 3));
  EXPECT_EQ(Captions(content), (std::vector<std::string>{"Keep", "Cancel", "Throw away"}));
  EXPECT_EQ(content.buttons[0].command_id, command::kFirstCustom);
  EXPECT_EQ(content.buttons[1].command_id, command::kCancel);
  EXPECT_EQ(content.buttons[2].command_id, command::kFirstCustom + 1);
  for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(content.buttons[i].result, int32_t(i + 1));
  EXPECT_EQ(content.default_index, 2u);
  EXPECT_EQ(content.cancel, 1u);

  EXPECT_EQ(ContentOf(ButtonsWith("a|b|c|d|e|f|g|h|i|j")).buttons.size(), kMaxBoxButtons);
  EXPECT_EQ(Captions(ContentOf(ButtonsWith("Go|"))), (std::vector<std::string>{"Go", ""}));
}

TEST(MessageBoxIconTest, ReadsEveryForm) {
  const BoxIcon stop = IconOf(kStopIcon);
  EXPECT_EQ(stop.kind, BoxIcon::Kind::kSystem);
  EXPECT_EQ(stop.number, system_icon::kStop);

  const BoxIcon program = IconOf("\xFF\x02\x0B\x20");
  EXPECT_EQ(program.kind, BoxIcon::Kind::kProgram);
  EXPECT_EQ(program.number, 0x200A);

  EXPECT_EQ(IconOf("").kind, BoxIcon::Kind::kNone);
  EXPECT_EQ(IconOf("    ").kind, BoxIcon::Kind::kNone);

  const BoxIcon resource = IconOf("~OK_ICO");
  EXPECT_EQ(resource.kind, BoxIcon::Kind::kNamed);
  EXPECT_EQ(resource.name, "OK_ICO");
  EXPECT_FALSE(resource.is_file);

  const BoxIcon file = IconOf("warn.ico  ");
  EXPECT_EQ(file.name, "warn.ico");
  EXPECT_TRUE(file.is_file);
}

TEST(DialogUnitsTest, BaseAndBothRoundings) {
  // 52 letters of 313 pixels: 313 / 26 = 12, (12 + 1) / 2 = 6.
  const DialogBase base = DialogBaseOf(313, 13);
  EXPECT_EQ(base.char_width, 6);
  EXPECT_EQ(base.char_height, 13);

  // 177 units: 177 * 6 / 4 = 265.5; 51 units: 51 * 13 / 8 = 82.875.
  EXPECT_EQ(WindowPixelsX(base, 177), 266);
  EXPECT_EQ(WindowPixelsY(base, 51), 83);
  EXPECT_EQ(WindowPixelsX(base, 3), 5);  // 4.5
  EXPECT_EQ(WindowPixelsY(base, 5), 8);  // 8.125
  EXPECT_EQ(BoxPixelsX(base, 5), 8);     // 7.5
  EXPECT_EQ(BoxPixelsY(base, 5), 9);     // 8.125
  EXPECT_EQ(BoxPixelsX(base, 0), 0);
}

TEST(MessageBoxLayoutTest, ButtonsAndBandForAKnownFont) {
  const DialogBase base{.char_width = 6, .char_height = 13};
  // One short line, no icon, one button.
  const BoxLayout layout = LayOutMessageBox(base, {.width = 40, .height = 13}, {}, 1);

  ASSERT_EQ(layout.buttons.size(), 1u);
  EXPECT_EQ(layout.buttons[0].width, 75);   // 50 * 6 / 4
  EXPECT_EQ(layout.buttons[0].height, 23);  // 14 * 13 / 8 = 22.75, rounded up
  EXPECT_EQ(layout.band.height, 74);        // the minimum of 45 units: 73.125, rounded up
  EXPECT_EQ(layout.buttons[0].y, 74);
  EXPECT_EQ(layout.box.height, 74 + 23 + 9);

  // The text block is 10 pixels wider than the text; the box is widened for the button.
  EXPECT_EQ(layout.text.width, 50);
  EXPECT_EQ(layout.text.x, 8);
  EXPECT_EQ(layout.box.width, 75 + 2 * 8);
  EXPECT_EQ(layout.buttons[0].x, 8);
  EXPECT_EQ(layout.icon.width, 0);
}

TEST(MessageBoxLayoutTest, IconMovesTheTextAndTallTextGrowsTheBand) {
  const DialogBase base{.char_width = 6, .char_height = 13};
  const BoxLayout layout =
      LayOutMessageBox(base, {.width = 290, .height = 130}, {.width = 32, .height = 32}, 3);

  EXPECT_EQ(layout.icon.x, 8);
  EXPECT_EQ(layout.text.x, 8 + 32 + 8);
  EXPECT_EQ(layout.band.height, 130 + 2 * 9);
  EXPECT_EQ(layout.icon.y, (148 - 32) / 2);
  EXPECT_EQ(layout.text.y, 9);
  EXPECT_EQ(layout.box.width, 48 + 300 + 8);

  // Three buttons and two gaps, centred.
  ASSERT_EQ(layout.buttons.size(), 3u);
  const int32_t row = 3 * 75 + 2 * 8;
  EXPECT_EQ(layout.buttons[0].x, (layout.box.width - row) / 2);
  EXPECT_EQ(layout.buttons[2].x + 75 - layout.buttons[0].x, row);
}

TEST(MessageBoxLayoutTest, PlacementCentresThenKeepsOnScreen) {
  const BoxRect screen{.x = 0, .y = 0, .width = 1000, .height = 800};
  const BoxSize box{.width = 200, .height = 100};

  const BoxRect centred = PlaceMessageBox({100, 100, 400, 300}, box, screen);
  EXPECT_EQ(centred.x, 200);
  EXPECT_EQ(centred.y, 200);

  const BoxRect off_right = PlaceMessageBox({900, 750, 100, 40}, box, screen);
  EXPECT_EQ(off_right.x, 800);
  EXPECT_EQ(off_right.y, 700);

  const BoxRect off_left = PlaceMessageBox({-300, -200, 100, 40}, box, screen);
  EXPECT_EQ(off_left.x, 0);
  EXPECT_EQ(off_left.y, 0);

  const BoxRect too_big = PlaceMessageBox({0, 0, 100, 100}, {2000, 100}, screen);
  EXPECT_EQ(too_big.x, 0);
}

}  // namespace
}  // namespace kb
