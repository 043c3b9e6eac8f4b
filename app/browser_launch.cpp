#include "app/browser_launch.h"

#include "platform/file_system.h"
#include "platform/shell.h"
#include "support/error_state/error_state.h"
#include "support/message_box/message.h"
#include "support/text/text.h"

namespace kb {
namespace {

constexpr std::size_t kLongestPathArgument = 260;

struct LaunchError {
  int64_t code;
  std::string_view text;
};

constexpr LaunchError kLaunchErrors[] = {
    {0, "Out of memory or file is corrupt running program"},
    {2, "File not found"},
    {3, "Path noth found"},
    {5, "Sharing violation"},
    {6, "Data segment error"},
    {8, "Not enough memory to run program"},
    {10, "Incorrect windows version"},
    {11, "Invalid program file.  Non windows or corrupt .exe file"},
    {12, "Not a windows program"},
    {13, "MS-DOS 4.0 program"},
    {14, "Unknown program type"},
    {15, "Can not run a real mode program"},
    {16, "This program is already running and can only have one instance running"},
    {19, "This is a compressed program file"},
    {20, "One or more run time libraries are missing or corrupt"},
    {21, "This program requires 32bit extension for Windows"},
    {31, "No program associated with this file"},
};

}  // namespace

std::string_view LaunchErrorText(int64_t code) {
  for (const LaunchError& error : kLaunchErrors) {
    if (error.code == code) return error.text;
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

void LaunchBrowser(SearchState& state, SearchScreen& screen) {
  screen.ShowStatus(kExecutingBrowserStatus);
  LaunchVariables& launch = state.launch;
  launch.owner = screen.OwnerWindow();
  launch.verb.Assign("open");
  launch.file.Assign(Clip(state.result_file_name.view()));
  launch.directory.Assign(ShortPath(""));
  launch.parameters.Clear();
  launch.show_mode = 1;

  launch.result = platform::OpenDocument(launch.file.view(), launch.directory.view());
  if (launch.result > 32) return;
  const std::string_view text = LaunchErrorText(launch.result);
  if (text.empty()) return;
  screen.ReportFailure({.text = text,
                        .caption = "ERROR",
                        .icon = kStopIcon,
                        .error_code = launch.result,
                        .path = launch.file.view()});
}

}  // namespace kb
