#include "support/error_state/error_state.h"

#include <algorithm>

#include "support/error_state/error_messages.h"
#include "support/program_texts/program_texts.h"
#include "support/text/text.h"

namespace kb {
namespace {

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

}  // namespace

std::string ErrorMessage(int32_t number) {
  if (const ReplaceableText* message = ErrorMessageText(number)) {
    return std::string(ProgramText(*message));
  }
  return Concat(
      {ProgramText(*ErrorMessageText(error::kUnknownErrorPosted)), " : ", NumberToText(number)});
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
  const ReplaceableText* message = ErrorMessageText(number);
  state.text = message ? ErrorTextOf(ProgramText(*message)) : ErrorTextOf(ErrorMessage(number));
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
