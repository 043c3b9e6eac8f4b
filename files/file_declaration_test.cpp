#include "files/file_declaration.h"

#include <gtest/gtest.h>

#include "files/access_mode.h"
#include "support/error_state/error_state.h"

namespace kb {
namespace {

using platform::Access;
using platform::Lock;

constexpr uint8_t kReadWriteDenyWrite = access_mode::kReadWrite | access_mode::kDenyWrite;

std::size_t BufferSize(std::string options, uint8_t mode = kReadWriteDenyWrite,
                       std::size_t record_length = 255, std::size_t minimum = 257) {
  const FileDeclaration declaration{.record_length = record_length, .options = std::move(options)};
  return SettingsFor(declaration, mode, minimum).buffer_size;
}

TEST(FileSettingsTest, BufferSizeFollowsFileBuffersOrTheSharingMode) {
  EXPECT_EQ(BufferSize("/FILEBUFFERS=100"), 51200u);
  EXPECT_EQ(BufferSize("/FILEBUFFERS=6", kReadWriteDenyWrite, 4096, 4096), 4096u);
  EXPECT_EQ(BufferSize("/FILEBUFFERS=24", kReadWriteDenyWrite, 4096, 4096), 12288u);
  EXPECT_EQ(BufferSize(" /filebuffers = 2 "), 1024u);
  EXPECT_EQ(BufferSize("/CLIP=ON/FILEBUFFERS=3/TAB=4"), 1536u);

  EXPECT_EQ(BufferSize(""), 1024u) << "deny write";
  EXPECT_EQ(BufferSize("", access_mode::kRead | access_mode::kDenyNone), 512u);
  EXPECT_EQ(BufferSize("", access_mode::kRead | access_mode::kCompatibility), 512u);
  EXPECT_EQ(BufferSize("", kReadWriteDenyWrite, 4096, 4096), 8192u) << "twice the record";

  // Counts that make no buffer fall back to the smallest that works; huge ones are cut.
  EXPECT_EQ(BufferSize("/FILEBUFFERS=0"), 257u);
  EXPECT_EQ(BufferSize("/FILEBUFFERS=-4"), 257u);
  EXPECT_EQ(BufferSize("/FILEBUFFERS=lots"), 257u);
  EXPECT_EQ(BufferSize("/FILEBUFFERS=2147483647"), std::size_t{kMaxFileBuffers} * 512);
  EXPECT_EQ(BufferSize("/FILEBUFFERS"), 1024u) << "a word without a value is no count";
}

TEST(FileSettingsTest, TabWidthAndQuickScan) {
  const FileDeclaration plain{.options = "/FILEBUFFERS=100"};
  const FileDeclaration tabbed{.options = "/TAB=-100/FILEBUFFERS=1"};
  EXPECT_EQ(SettingsFor(plain, kReadWriteDenyWrite, 1).tab_width, 8);
  EXPECT_EQ(SettingsFor(tabbed, kReadWriteDenyWrite, 1).tab_width, -100);

  for (const uint8_t sharing :
       {access_mode::kDenyAll, access_mode::kDenyWrite, access_mode::kDenyRead}) {
    EXPECT_TRUE(SettingsFor(plain, access_mode::kRead | sharing, 1).quick_scan) << int{sharing};
  }
  for (const uint8_t sharing : {access_mode::kCompatibility, access_mode::kDenyNone}) {
    EXPECT_FALSE(SettingsFor(plain, access_mode::kRead | sharing, 1).quick_scan) << int{sharing};
  }
}

TEST(AccessRequestTest, WritersAndDenyAllHoldTheFileAlone) {
  struct Case {
    uint8_t mode;
    Access access;
    Lock lock;
  };
  const Case cases[] = {
      {0x00, Access::kRead, Lock::kNone},           {0x40, Access::kRead, Lock::kNone},
      {0x20, Access::kRead, Lock::kShared},         {0x10, Access::kRead, Lock::kExclusive},
      {0x30, Access::kRead, Lock::kNone},           {0x03, Access::kRead, Lock::kNone},
      {0x23, Access::kRead, Lock::kShared},         {0x01, Access::kWrite, Lock::kExclusive},
      {0x41, Access::kWrite, Lock::kExclusive},     {0x22, Access::kReadWrite, Lock::kExclusive},
      {0x42, Access::kReadWrite, Lock::kExclusive},
  };
  for (const Case& expected : cases) {
    const AccessRequest request = RequestFor(expected.mode);
    EXPECT_EQ(request.access, expected.access) << int{expected.mode};
    EXPECT_EQ(request.lock, expected.lock) << int{expected.mode};
  }
}

TEST(OpenErrorNumberTest, SharingBadPathInvalidNameAndFullDiskAreMapped) {
  EXPECT_EQ(OpenErrorNumber(32), error::kAccessDenied);
  EXPECT_EQ(OpenErrorNumber(161), error::kPathNotFound);
  EXPECT_EQ(OpenErrorNumber(123), error::kInvalidFilename);
  EXPECT_EQ(OpenErrorNumber(2), error::kFileNotFound);
  EXPECT_EQ(OpenErrorNumber(87), 87);
  EXPECT_EQ(ErrorMessage(OpenErrorNumber(platform::system_error::kDiskFull)), "Handle Disk Full");
}

}  // namespace
}  // namespace kb
