#include "app/search/browser_launch.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/error_state/error_state.h"

namespace kb {
namespace {

TEST(BrowserLaunchTest, CodesWithoutAMessageShowNothing) {
  EXPECT_EQ(LaunchErrorText(3), "Path noth found");
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
