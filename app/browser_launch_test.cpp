#include "app/browser_launch.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "files/error_state.h"

namespace kb {
namespace {

TEST(BrowserLaunchTest, EveryCodeWithAMessageAndNoneOther) {
  EXPECT_EQ(LaunchErrorText(0), "Out of memory or file is corrupt running program");
  EXPECT_EQ(LaunchErrorText(2), "File not found");
  EXPECT_EQ(LaunchErrorText(3), "Path noth found");
  EXPECT_EQ(LaunchErrorText(8), "Not enough memory to run program");
  EXPECT_EQ(LaunchErrorText(11), "Invalid program file.  Non windows or corrupt .exe file");
  EXPECT_EQ(LaunchErrorText(31), "No program associated with this file");
  int with_message = 0;
  for (int code = 0; code <= 40; ++code) with_message += LaunchErrorText(code).empty() ? 0 : 1;
  EXPECT_EQ(with_message, 17);
  for (int code : {1, 4, 7, 9, 17, 18, 22, 26, 30, 32, 33, -1}) {
    EXPECT_EQ(LaunchErrorText(code), "") << code;
  }
}

TEST(BrowserLaunchTest, ShortPathIsTheWorkingDirectoryOrThePathItself) {
  PostError(error::kFileNotFound);
  EXPECT_EQ(ShortPath(""), std::filesystem::current_path().string());
  EXPECT_EQ(ErrorCode(), 0);
  EXPECT_EQ(ShortPath("   "), std::filesystem::current_path().string());
  EXPECT_EQ(ShortPath(" /a b/c   "), " /a b/c");
  EXPECT_EQ(ShortPath(std::string(300, 'x')), std::string(260, 'x'));
}

}  // namespace
}  // namespace kb
