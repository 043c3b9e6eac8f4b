#include "app/search/browser_launch.h"

#include "app/base/replaceable_texts.h"
#include "platform/file_system.h"
#include "platform/shell.h"
#include "support/error_state/error_state.h"
#include "support/message_box/message.h"
#include "support/program_texts/program_texts.h"
#include "support/text/text.h"

namespace kb {
namespace {

constexpr std::size_t kLongestPathArgument = 260;

}  // namespace

std::string_view LaunchErrorText(int64_t code) {
  for (const NumberedText& message : LaunchErrorTexts()) {
    if (message.number == code) return ProgramText(message.text);
  }
  return {};
}

std::string ShortPath(std::string_view path) {
  ClearError();
  const std::string_view clipped = Clip(path).substr(0, kLongestPathArgument);
  if (!clipped.empty()) return std::string(clipped);
  std::string directory;
  if (platform::CurrentDirectory(directory) != platform::system_error::kNone) directory.clear();
  return directory;
}

BrowserLaunch LaunchBrowser(std::string_view page, FailureReporter& reporter) {
  BrowserLaunch launch{
      .verb = "open", .file = std::string(Clip(page)), .directory = ShortPath(""), .show_mode = 1};
  launch.result = platform::OpenDocument(launch.file, launch.directory);
  if (launch.result > 32) return launch;
  const std::string_view text = LaunchErrorText(launch.result);
  if (text.empty()) return launch;
  reporter.ReportFailure({.text = text,
                          .caption = ProgramText(text::kErrorCaption),
                          .icon = kStopIcon,
                          .error_code = launch.result,
                          .path = launch.file});
  return launch;
}

}  // namespace kb
