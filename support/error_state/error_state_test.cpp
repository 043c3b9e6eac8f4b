#include "support/error_state/error_state.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "support/text/text.h"

namespace kb {
namespace {

TEST(ErrorStateTest, PostSetsNumberAndPaddedText) {
  PostError(error::kFileNotFound);
  EXPECT_EQ(ErrorCode(), 2);
  EXPECT_EQ(ErrorText(), "File Not Found" + std::string(66, ' '));
  ClearError();
  EXPECT_EQ(ErrorCode(), 0);
  EXPECT_EQ(ErrorText(), std::string(80, ' '));
}

TEST(ErrorStateTest, ClearingBlanksWhateverWasPosted) {
  ClearError();
  ClearError();
  EXPECT_EQ(ErrorText(), std::string(80, ' '));
  PostError(0, 0xFFFFFFFFu - 299);  // 300 plus this comes out as number 0
  ClearError();
  EXPECT_EQ(ErrorCode(), 0);
  EXPECT_EQ(ErrorText(), std::string(80, ' '));
}

TEST(ErrorStateTest, PostingZeroUsesTheOperatingSystemsError) {
  PostError(0, 5);
  EXPECT_EQ(ErrorCode(), 305);
  EXPECT_EQ(Clip(ErrorText()), "Access Denied");
  EXPECT_EQ(OsError(), 5u);
}

TEST(ErrorStateTest, NumbersWithoutTextFallBack) {
  EXPECT_EQ(ErrorMessage(87), "Unknown Error Posted : 87");
  EXPECT_EQ(ErrorMessage(314), "Unknown Error Posted : 314");
  EXPECT_EQ(ErrorMessage(-1), "Unknown Error Posted : -1");
  EXPECT_EQ(ErrorMessage(0), "Unknown Error Posted : 0");
  PostError(87);
  EXPECT_EQ(Clip(ErrorText()), "Unknown Error Posted : 87");
}

TEST(ErrorStateTest, TableTextsKeepTheirOwnTrailingBlank) {
  EXPECT_EQ(ErrorMessage(78), "Invalid Number Of Parameters ");
  EXPECT_EQ(ErrorMessage(350), "Not Supported ");
  EXPECT_EQ(ErrorMessage(316), "Invalid Operation For Current Directory");
  EXPECT_EQ(ErrorMessage(391), "Unknown Error");
  EXPECT_EQ(ErrorMessage(33), "Record Not Available");
}

TEST(ErrorStateTest, ErrorTextIsCutAtSeventyNineWithoutLeadingBlanks) {
  const std::string long_message = "  " + std::string(100, 'm');
  const auto text = ErrorTextOf(long_message);
  EXPECT_EQ(text.view(), std::string(79, 'm') + " ");
  EXPECT_EQ(ErrorTextOf("").view(), std::string(80, ' '));
}

TEST(ErrorStateTest, EachThreadHasItsOwnState) {
  PostError(error::kFileNotFound);
  int32_t seen_there = -1;
  std::thread([&seen_there] {
    seen_there = ErrorCode();
    PostError(error::kAccessDenied);
  }).join();
  EXPECT_EQ(seen_there, 0);
  EXPECT_EQ(ErrorCode(), error::kFileNotFound);
  EXPECT_EQ(Clip(ErrorText()), "File Not Found");
  ClearError();
}

}  // namespace
}  // namespace kb
