#include "support/error_state/error_messages.h"

#include <array>

namespace kb {
namespace {

// The error table. Two texts end in a blank, as they always have.
constexpr NumberedText kErrorMessages[] = {
    {2, {"Error2", "File Not Found", kLongestErrorMessage}},
    {3, {"Error3", "Path Not Found", kLongestErrorMessage}},
    {4, {"Error4", "Too Many Open Files", kLongestErrorMessage}},
    {5, {"Error5", "Access Denied", kLongestErrorMessage}},
    {7, {"Error7", "Memory Corrupted", kLongestErrorMessage}},
    {8, {"Error8", "Insufficient Memory", kLongestErrorMessage}},
    {30, {"Error30", "Entry Not Found", kLongestErrorMessage}},
    {32, {"Error32", "File Is Already Locked", kLongestErrorMessage}},
    {33, {"Error33", "Record Not Available", kLongestErrorMessage}},
    {35, {"Error35", "Record Not Found", kLongestErrorMessage}},
    {36, {"Error36", "Invalid Data File", kLongestErrorMessage}},
    {37, {"Error37", "File Not Open", kLongestErrorMessage}},
    {38, {"Error38", "Invalid Key File", kLongestErrorMessage}},
    {40, {"Error40", "Creates Duplicate Key", kLongestErrorMessage}},
    {43, {"Error43", "Record Is Already Held", kLongestErrorMessage}},
    {45, {"Error45", "Invalid Filename", kLongestErrorMessage}},
    {46, {"Error46", "Key File Must Be Rebuilt", kLongestErrorMessage}},
    {47, {"Error47", "Invalid Record Declaration", kLongestErrorMessage}},
    {48, {"Error48", "Unable To Log Transaction", kLongestErrorMessage}},
    {52, {"Error52", "File Already Open", kLongestErrorMessage}},
    {53, {"Error53", "Invalid Varnel File", kLongestErrorMessage}},
    {54, {"Error54", "No Create Attribute", kLongestErrorMessage}},
    {55, {"Error55", "File Must Be Shared", kLongestErrorMessage}},
    {56, {"Error56", "LOGOUT Already Active", kLongestErrorMessage}},
    {57, {"Error57", "Invalid Memo File", kLongestErrorMessage}},
    {63, {"Error63", "Exclusive Access Required", kLongestErrorMessage}},
    {64, {"Error64", "Sharing Violation", kLongestErrorMessage}},
    {65, {"Error65", "Unable To ROLLBACK Transaction", kLongestErrorMessage}},
    {73, {"Error73", "Memo File Missing", kLongestErrorMessage}},
    {75, {"Error75", "Invalid Field Type Descriptor", kLongestErrorMessage}},
    {76, {"Error76", "Invalid Index String", kLongestErrorMessage}},
    {77, {"Error77", "Unable To Access Index", kLongestErrorMessage}},
    {78, {"Error78", "Invalid Number Of Parameters ", kLongestErrorMessage}},
    {79, {"Error79", "Unsupported Data Type In File", kLongestErrorMessage}},
    {80, {"Error80", "Unsupported File Driver Function", kLongestErrorMessage}},
    {81, {"Error81", "Unknown Error Posted", kLongestErrorMessage}},
    {88, {"Error88", "Invalid Key Length", kLongestErrorMessage}},
    {89, {"Error89", "Record Changed By Another Station", kLongestErrorMessage}},
    {90, {"Error90", "File System Error", kLongestErrorMessage}},
    {91, {"Error91", "LOGOUT Not Active", kLongestErrorMessage}},
    {92, {"Error92", "BUILD In Progress", kLongestErrorMessage}},
    {93, {"Error93", "BUILD Cancelled", kLongestErrorMessage}},
    {95, {"Error95", "Server Not Found", kLongestErrorMessage}},
    {96, {"Error96", "Remote Object Not Found", kLongestErrorMessage}},
    // 300 plus an operating-system error value.
    {301, {"Error301", "Invalid Function", kLongestErrorMessage}},
    {302, {"Error302", "File Not Found", kLongestErrorMessage}},
    {303, {"Error303", "Path Not Found", kLongestErrorMessage}},
    {304, {"Error304", "Too Many Open Files", kLongestErrorMessage}},
    {305, {"Error305", "Access Denied", kLongestErrorMessage}},
    {306, {"Error306", "Invalid Handle", kLongestErrorMessage}},
    {307, {"Error307", "Memory Corrupted", kLongestErrorMessage}},
    {308, {"Error308", "Insufficient Memory", kLongestErrorMessage}},
    {309, {"Error309", "Invalid Memory Block", kLongestErrorMessage}},
    {310, {"Error310", "Invalid Environment", kLongestErrorMessage}},
    {311, {"Error311", "Invalid Format", kLongestErrorMessage}},
    {312, {"Error312", "Invalid Access", kLongestErrorMessage}},
    {313, {"Error313", "Invalid Data", kLongestErrorMessage}},
    {315, {"Error315", "Invalid Drive", kLongestErrorMessage}},
    {316, {"Error316", "Invalid Operation For Current Directory", kLongestErrorMessage}},
    {317, {"Error317", "Not Same Device", kLongestErrorMessage}},
    {318, {"Error318", "No More Files", kLongestErrorMessage}},
    {319, {"Error319", "Write Protect", kLongestErrorMessage}},
    {320, {"Error320", "Invalid Unit", kLongestErrorMessage}},
    {321, {"Error321", "Device Not Ready", kLongestErrorMessage}},
    {322, {"Error322", "Invalid Command", kLongestErrorMessage}},
    {323, {"Error323", "Media Checksum Failed", kLongestErrorMessage}},
    {324, {"Error324", "Invalid Length", kLongestErrorMessage}},
    {325, {"Error325", "Seek Location Inaccessible", kLongestErrorMessage}},
    {326, {"Error326", "Not DOS Disk", kLongestErrorMessage}},
    {327, {"Error327", "Sector Not Found", kLongestErrorMessage}},
    {328, {"Error328", "Out Of Paper", kLongestErrorMessage}},
    {329, {"Error329", "Write Fault", kLongestErrorMessage}},
    {330, {"Error330", "Read Fault", kLongestErrorMessage}},
    {331, {"Error331", "General Failure", kLongestErrorMessage}},
    {332, {"Error332", "Sharing Violation", kLongestErrorMessage}},
    {333, {"Error333", "Lock Violation", kLongestErrorMessage}},
    {334, {"Error334", "Wrong Disk", kLongestErrorMessage}},
    {335, {"Error335", "FCB Unavailable", kLongestErrorMessage}},
    {336, {"Error336", "Sharing Buffer Exceeded", kLongestErrorMessage}},
    {337, {"Error337", "Code Page Mismatched", kLongestErrorMessage}},
    {338, {"Error338", "Handle EOF", kLongestErrorMessage}},
    {339, {"Error339", "Handle Disk Full", kLongestErrorMessage}},
    {350, {"Error350", "Not Supported ", kLongestErrorMessage}},
    {351, {"Error351", "REM Not List", kLongestErrorMessage}},
    {352, {"Error352", "Duplicate Name Encountered", kLongestErrorMessage}},
    {353, {"Error353", "Invalid Network Path", kLongestErrorMessage}},
    {354, {"Error354", "Network Busy", kLongestErrorMessage}},
    {355, {"Error355", "Device Does Not Exist", kLongestErrorMessage}},
    {356, {"Error356", "Too Many Commands", kLongestErrorMessage}},
    {357, {"Error357", "Adapter/Hardware Failure", kLongestErrorMessage}},
    {358, {"Error358", "Invalid Network Response", kLongestErrorMessage}},
    {359, {"Error359", "Unexpected Network Error", kLongestErrorMessage}},
    {360, {"Error360", "Invalid REM Adapter", kLongestErrorMessage}},
    {361, {"Error361", "Print Queue Full", kLongestErrorMessage}},
    {362, {"Error362", "No Spool Space", kLongestErrorMessage}},
    {363, {"Error363", "Print Cancelled", kLongestErrorMessage}},
    {364, {"Error364", "Network Name Deleted", kLongestErrorMessage}},
    {365, {"Error365", "Network Access Denied", kLongestErrorMessage}},
    {366, {"Error366", "Invalid Device Type", kLongestErrorMessage}},
    {367, {"Error367", "Invalid Network Name", kLongestErrorMessage}},
    {368, {"Error368", "Too Many Names", kLongestErrorMessage}},
    {369, {"Error369", "Too Many Sessions", kLongestErrorMessage}},
    {370, {"Error370", "Sharing Paused", kLongestErrorMessage}},
    {371, {"Error371", "Request Not Accepted", kLongestErrorMessage}},
    {372, {"Error372", "Network Redirection Paused", kLongestErrorMessage}},
    {380, {"Error380", "File Already Exists", kLongestErrorMessage}},
    {381, {"Error381", "Duplicate FCB", kLongestErrorMessage}},
    {382, {"Error382", "Cannot Make", kLongestErrorMessage}},
    {383, {"Error383", "Fail Critical Error", kLongestErrorMessage}},
    {384, {"Error384", "Out Of Structures", kLongestErrorMessage}},
    {385, {"Error385", "Already Assigned", kLongestErrorMessage}},
    {386, {"Error386", "Invalid Password", kLongestErrorMessage}},
    {387, {"Error387", "Invalid Parameter", kLongestErrorMessage}},
    {388, {"Error388", "Network Write Fault", kLongestErrorMessage}},
    {390, {"Error390", "System Component Not Loaded", kLongestErrorMessage}},
    {391, {"Error391", "Unknown Error", kLongestErrorMessage}},
};

// The entry of each number, looked up at once: every article ends by posting 33.
constexpr std::size_t kNumbers = 392;
constexpr auto kEntryOf = [] {
  std::array<int16_t, kNumbers> entries{};
  entries.fill(-1);
  for (std::size_t entry = 0; entry < std::size(kErrorMessages); ++entry) {
    entries[static_cast<std::size_t>(kErrorMessages[entry].number)] = static_cast<int16_t>(entry);
  }
  return entries;
}();

}  // namespace

std::span<const NumberedText> ErrorMessageTexts() {
  return kErrorMessages;
}

const ReplaceableText* ErrorMessageText(int32_t number) {
  if (number < 0 || static_cast<std::size_t>(number) >= kNumbers) return nullptr;
  const int16_t entry = kEntryOf[static_cast<std::size_t>(number)];
  return entry < 0 ? nullptr : &kErrorMessages[entry].text;
}

}  // namespace kb
