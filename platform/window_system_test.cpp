#include "platform/window_system.h"

#include <gtest/gtest.h>

namespace kb::platform {
namespace {

TEST(WindowLayoutRulesTest, IconFileNamesBecomeResourceNames) {
  EXPECT_EQ(IconResourceName("Textfind.ico"), "TEXTFIND_ICO");
  EXPECT_EQ(IconResourceName("ok.ico"), "OK_ICO");
  EXPECT_EQ(IconResourceName("a.b.c"), "A_B_C");
  EXPECT_EQ(IconResourceName(""), "");
}

TEST(WindowLayoutRulesTest, TextPicturesGiveTheirLength) {
  EXPECT_EQ(PictureMaxLength("s100"), 100u);
  EXPECT_EQ(PictureMaxLength("S255"), 255u);
  EXPECT_EQ(PictureMaxLength(""), 0u);
  EXPECT_EQ(PictureMaxLength("s"), 0u);
  EXPECT_EQ(PictureMaxLength("n10"), 0u);
  EXPECT_EQ(PictureMaxLength("s1x"), 0u);
  EXPECT_EQ(PictureMaxLength("s99999999999999999999"), 0u);
}

}  // namespace
}  // namespace kb::platform
