#include "support/program_texts/program_texts.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <utility>

namespace kb {
namespace {

struct NamedText {
  TextId id;
  std::string_view key;
  std::string_view text;
};

// In the order of TextId.
constexpr NamedText kNamedTexts[] = {
    {TextId::kOkButton, "OkButton", "OK"},
    {TextId::kYesButton, "YesButton", "&Yes"},
    {TextId::kNoButton, "NoButton", "&No"},
    {TextId::kAbortButton, "AbortButton", "&Abort"},
    {TextId::kRetryButton, "RetryButton", "&Retry"},
    {TextId::kIgnoreButton, "IgnoreButton", "&Ignore"},
    {TextId::kCancelButton, "CancelButton", "Cancel"},
    {TextId::kHelpButton, "HelpButton", "&Help"},
    {TextId::kSearchPrompt, "SearchPrompt", "Search for:"},
    {TextId::kSearchButton, "SearchButton", "&Search"},
    {TextId::kCloseButton, "CloseButton", "Close"},
    {TextId::kSearchingStatus, "SearchingStatus", "Searching through files..."},
    {TextId::kCreatingPageStatus, "CreatingPageStatus", "Creating index page..."},
    {TextId::kExecutingBrowserStatus, "ExecutingBrowserStatus", "Executing browser..."},
    {TextId::kFoundStatus, "FoundStatus", "%N articles found"},
    {TextId::kFoundOneStatus, "FoundOneStatus", "1 article found"},
    {TextId::kNotFoundStatus, "NotFoundStatus", "No article holds \"%P\""},
    {TextId::kStoppedStatus, "StoppedStatus", "Search stopped"},
    {TextId::kHeaderUnopened, "HeaderUnopened", "Can not open the header file: "},
    {TextId::kHeaderUnread, "HeaderUnread", "Can not read the header file: "},
    {TextId::kFooterUnopened, "FooterUnopened", "Can not open the Footer file: "},
    {TextId::kFooterUnread, "FooterUnread", "Can not read the Footer file: "},
    {TextId::kArticleUnopened, "ArticleUnopened", "Could not open file: "},
    {TextId::kArticleUnread, "ArticleUnread", "Could not read file: "},
    {TextId::kFolderUnread, "FolderUnread", "Could not read the folder: "},
    {TextId::kErrorJoiner, "ErrorJoiner", "|Error: "},
    {TextId::kPageUnopened, "PageUnopened",
     "Can not create/open the results file.  Error returned: "},
    {TextId::kPageUnopenedCaption, "PageUnopenedCaption", "Error opening result file"},
    {TextId::kPageUnwritten, "PageUnwritten", "Can not write the results file.  Error returned: "},
    {TextId::kPageUnwrittenCaption, "PageUnwrittenCaption", "Error writing result file"},
    {TextId::kErrorCaption, "ErrorCaption", "ERROR"},
    {TextId::kNoMemory, "NoMemory", "Can not start: there is not enough memory for the search."},
    {TextId::kFolderUnentered, "FolderUnentered", "Could not open the folder: "},
    {TextId::kFolderUnenteredCaption, "FolderUnenteredCaption", "Error opening folder"},
    {TextId::kFolderDialogCaption, "FolderDialogCaption", "Choose the knowledge base folder"},
    {TextId::kSettingsProblem, "SettingsProblem", "Problem in the settings file: "},
    {TextId::kKnowledgeBaseSettingsProblem, "KnowledgeBaseSettingsProblem",
     "Problem in the knowledge base's settings file: "},
};

constexpr bool NamedTextsInOrder() {
  for (std::size_t row = 0; row < std::size(kNamedTexts); ++row) {
    if (static_cast<std::size_t>(kNamedTexts[row].id) != row) return false;
  }
  return true;
}
static_assert(NamedTextsInOrder());

// The error table. Two texts end in a blank, as they always have.
constexpr std::pair<int32_t, std::string_view> kErrorMessages[] = {
    {2, "File Not Found"},
    {3, "Path Not Found"},
    {4, "Too Many Open Files"},
    {5, "Access Denied"},
    {7, "Memory Corrupted"},
    {8, "Insufficient Memory"},
    {30, "Entry Not Found"},
    {32, "File Is Already Locked"},
    {33, "Record Not Available"},
    {35, "Record Not Found"},
    {36, "Invalid Data File"},
    {37, "File Not Open"},
    {38, "Invalid Key File"},
    {40, "Creates Duplicate Key"},
    {43, "Record Is Already Held"},
    {45, "Invalid Filename"},
    {46, "Key File Must Be Rebuilt"},
    {47, "Invalid Record Declaration"},
    {48, "Unable To Log Transaction"},
    {52, "File Already Open"},
    {53, "Invalid Varnel File"},
    {54, "No Create Attribute"},
    {55, "File Must Be Shared"},
    {56, "LOGOUT Already Active"},
    {57, "Invalid Memo File"},
    {63, "Exclusive Access Required"},
    {64, "Sharing Violation"},
    {65, "Unable To ROLLBACK Transaction"},
    {73, "Memo File Missing"},
    {75, "Invalid Field Type Descriptor"},
    {76, "Invalid Index String"},
    {77, "Unable To Access Index"},
    {78, "Invalid Number Of Parameters "},
    {79, "Unsupported Data Type In File"},
    {80, "Unsupported File Driver Function"},
    {81, "Unknown Error Posted"},
    {88, "Invalid Key Length"},
    {89, "Record Changed By Another Station"},
    {90, "File System Error"},
    {91, "LOGOUT Not Active"},
    {92, "BUILD In Progress"},
    {93, "BUILD Cancelled"},
    {95, "Server Not Found"},
    {96, "Remote Object Not Found"},
    // 300 plus an operating-system error value.
    {301, "Invalid Function"},
    {302, "File Not Found"},
    {303, "Path Not Found"},
    {304, "Too Many Open Files"},
    {305, "Access Denied"},
    {306, "Invalid Handle"},
    {307, "Memory Corrupted"},
    {308, "Insufficient Memory"},
    {309, "Invalid Memory Block"},
    {310, "Invalid Environment"},
    {311, "Invalid Format"},
    {312, "Invalid Access"},
    {313, "Invalid Data"},
    {315, "Invalid Drive"},
    {316, "Invalid Operation For Current Directory"},
    {317, "Not Same Device"},
    {318, "No More Files"},
    {319, "Write Protect"},
    {320, "Invalid Unit"},
    {321, "Device Not Ready"},
    {322, "Invalid Command"},
    {323, "Media Checksum Failed"},
    {324, "Invalid Length"},
    {325, "Seek Location Inaccessible"},
    {326, "Not DOS Disk"},
    {327, "Sector Not Found"},
    {328, "Out Of Paper"},
    {329, "Write Fault"},
    {330, "Read Fault"},
    {331, "General Failure"},
    {332, "Sharing Violation"},
    {333, "Lock Violation"},
    {334, "Wrong Disk"},
    {335, "FCB Unavailable"},
    {336, "Sharing Buffer Exceeded"},
    {337, "Code Page Mismatched"},
    {338, "Handle EOF"},
    {339, "Handle Disk Full"},
    {350, "Not Supported "},
    {351, "REM Not List"},
    {352, "Duplicate Name Encountered"},
    {353, "Invalid Network Path"},
    {354, "Network Busy"},
    {355, "Device Does Not Exist"},
    {356, "Too Many Commands"},
    {357, "Adapter/Hardware Failure"},
    {358, "Invalid Network Response"},
    {359, "Unexpected Network Error"},
    {360, "Invalid REM Adapter"},
    {361, "Print Queue Full"},
    {362, "No Spool Space"},
    {363, "Print Cancelled"},
    {364, "Network Name Deleted"},
    {365, "Network Access Denied"},
    {366, "Invalid Device Type"},
    {367, "Invalid Network Name"},
    {368, "Too Many Names"},
    {369, "Too Many Sessions"},
    {370, "Sharing Paused"},
    {371, "Request Not Accepted"},
    {372, "Network Redirection Paused"},
    {380, "File Already Exists"},
    {381, "Duplicate FCB"},
    {382, "Cannot Make"},
    {383, "Fail Critical Error"},
    {384, "Out Of Structures"},
    {385, "Already Assigned"},
    {386, "Invalid Password"},
    {387, "Invalid Parameter"},
    {388, "Network Write Fault"},
    {390, "System Component Not Loaded"},
    {391, "Unknown Error"},
};

// The messages of a failed browser launch, by the code the launch gave.
constexpr std::pair<int32_t, std::string_view> kLaunchErrors[] = {
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

// Rows of the table: the named texts, then the error table, then the launch messages.
constexpr std::size_t kFirstErrorRow = std::size(kNamedTexts);
constexpr std::size_t kFirstLaunchRow = kFirstErrorRow + std::size(kErrorMessages);
constexpr std::size_t kRows = kFirstLaunchRow + std::size(kLaunchErrors);

constexpr std::string_view kErrorKey = "Error";
constexpr std::string_view kLaunchErrorKey = "LaunchError";

// The row of each number of a table, looked up at once: every article ends by posting 33.
template <std::size_t kEntries>
constexpr auto RowsByNumber(const std::pair<int32_t, std::string_view> (&table)[kEntries],
                            std::size_t first_row) {
  std::array<int16_t, 392> rows{};
  rows.fill(-1);
  for (std::size_t entry = 0; entry < kEntries; ++entry) {
    rows[static_cast<std::size_t>(table[entry].first)] = static_cast<int16_t>(first_row + entry);
  }
  return rows;
}
constexpr auto kErrorRows = RowsByNumber(kErrorMessages, kFirstErrorRow);
constexpr auto kLaunchRows = RowsByNumber(kLaunchErrors, kFirstLaunchRow);

template <typename Number>
std::optional<std::size_t> RowOf(const std::array<int16_t, 392>& rows, Number number) {
  if (number < 0 || static_cast<std::size_t>(number) >= rows.size()) return std::nullopt;
  const int16_t row = rows[static_cast<std::size_t>(number)];
  if (row < 0) return std::nullopt;
  return static_cast<std::size_t>(row);
}

std::string_view DefaultText(std::size_t row) {
  if (row < kFirstErrorRow) return kNamedTexts[row].text;
  if (row < kFirstLaunchRow) return kErrorMessages[row - kFirstErrorRow].second;
  return kLaunchErrors[row - kFirstLaunchRow].second;
}

std::string KeyOf(std::size_t row) {
  if (row < kFirstErrorRow) return std::string(kNamedTexts[row].key);
  if (row < kFirstLaunchRow) {
    return std::string(kErrorKey) + std::to_string(kErrorMessages[row - kFirstErrorRow].first);
  }
  return std::string(kLaunchErrorKey) + std::to_string(kLaunchErrors[row - kFirstLaunchRow].first);
}

bool SameKey(std::string_view first, std::string_view second) {
  return std::equal(first.begin(), first.end(), second.begin(), second.end(), [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) ==
           std::tolower(static_cast<unsigned char>(b));
  });
}

ProgramTexts& Texts() {
  static ProgramTexts texts;
  return texts;
}

}  // namespace

ProgramTexts::Replacement ProgramTexts::Replace(std::string_view key, std::string_view text) {
  for (std::size_t row = 0; row < kRows; ++row) {
    if (!SameKey(KeyOf(row), key)) continue;
    const bool error_message = row >= kFirstErrorRow && row < kFirstLaunchRow;
    if (error_message && text.size() > kLongestErrorMessage) return Replacement::kTooLong;
    replaced_.resize(kRows);
    replaced_[row] = std::string(text);
    return Replacement::kDone;
  }
  return Replacement::kUnknownKey;
}

std::string_view ProgramTexts::Row(std::size_t row) const {
  if (row < replaced_.size() && replaced_[row]) return *replaced_[row];
  return DefaultText(row);
}

std::string_view ProgramTexts::Of(TextId id) const {
  return Row(static_cast<std::size_t>(id));
}

std::optional<std::string_view> ProgramTexts::ErrorMessageOf(int32_t number) const {
  const std::optional<std::size_t> row = RowOf(kErrorRows, number);
  if (!row) return std::nullopt;
  return Row(*row);
}

std::string_view ProgramTexts::LaunchErrorOf(int64_t code) const {
  const std::optional<std::size_t> row = RowOf(kLaunchRows, code);
  return row ? Row(*row) : std::string_view();
}

std::vector<std::string> ProgramTextKeys() {
  std::vector<std::string> keys;
  for (std::size_t row = 0; row < kRows; ++row) keys.push_back(KeyOf(row));
  return keys;
}

const ProgramTexts& CurrentTexts() {
  return Texts();
}

std::string_view ProgramText(TextId id) {
  return Texts().Of(id);
}

void UseProgramTexts(ProgramTexts texts) {
  Texts() = std::move(texts);
}

}  // namespace kb
