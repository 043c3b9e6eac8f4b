#include "support/error_state/error_state.h"

#include <algorithm>
#include <array>
#include <utility>

#include "support/text/text.h"

namespace kb {
namespace {

// The message of every number that has one. Two texts end in a blank, as they always have.
constexpr std::pair<int32_t, std::string_view> kMessages[] = {
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

constexpr std::size_t kMaxMessageLength = kErrorTextLength - 1;

struct ErrorState {
  int32_t code = 0;
  FixedString<kErrorTextLength> text;
  uint32_t os_error = 0;
  bool clear = true;  // code 0 and text all blanks
};

ErrorState& State() {
  thread_local ErrorState state;
  return state;
}

// The message table's entry for `number`; empty when it has none.
std::string_view TableMessage(int32_t number) {
  const auto* entry =
      std::find_if(std::begin(kMessages), std::end(kMessages),
                   [number](const auto& message) { return message.first == number; });
  return entry != std::end(kMessages) ? entry->second : std::string_view();
}

}  // namespace

std::string ErrorMessage(int32_t number) {
  if (const std::string_view message = TableMessage(number); !message.empty()) {
    return std::string(message);
  }
  return Concat({TableMessage(error::kUnknownErrorPosted), " : ", NumberToText(number)});
}

FixedString<kErrorTextLength> ErrorTextOf(std::string_view message) {
  message.remove_prefix(std::min(message.find_first_not_of(kBlank), message.size()));
  return FixedString<kErrorTextLength>(message.substr(0, kMaxMessageLength));
}

void PostError(int32_t number, uint32_t os_error) {
  ErrorState& state = State();
  state.os_error = os_error;
  if (number == 0) number = static_cast<int32_t>(300 + os_error);
  state.code = number;
  state.clear = false;
  // The end of every article posts 33: the table's texts are taken without building a copy.
  const std::string_view message = TableMessage(number);
  state.text = message.empty() ? ErrorTextOf(ErrorMessage(number)) : ErrorTextOf(message);
}

void ClearError() {
  // Every successful operation clears the state; a clear one has nothing to blank.
  ErrorState& state = State();
  if (state.clear) return;
  state.code = 0;
  state.text.Clear();
  state.clear = true;
}

int32_t ErrorCode() {
  return State().code;
}

std::string_view ErrorText() {
  return State().text.view();
}

uint32_t OsError() {
  return State().os_error;
}

}  // namespace kb
