#pragma once

// The texts the program shows its user, each with a key under which the settings file
// (app/setup/settings_file.h) can replace it: the captions of the message box's buttons, the labels
// of the window's controls, the status texts, the messages and their captions, the messages
// of the error table (by number) and those of a failed browser launch (by code). Every text
// has a default, the program's own wording, which stands until it is replaced. The window's
// title and the lines of the results page are not among them: they never change.
//
// The texts in use are one table for the whole process. It is filled once, at start, by
// UseProgramTexts() before any thread but the main one runs, and only read afterwards, so
// any thread reads it without a lock: nothing writes it while anyone reads. A view into it
// stays valid until the next UseProgramTexts().

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kb {

// The texts that have a name. Each message text is followed, where it is shown, by what it
// is about: a path, or an error number, ", " and the error's text.
enum class TextId {
  // Captions of the message box's standard buttons; "&" marks the access key.
  kOkButton,
  kYesButton,
  kNoButton,
  kAbortButton,
  kRetryButton,
  kIgnoreButton,
  kCancelButton,
  kHelpButton,
  // The window's controls.
  kSearchPrompt,
  kSearchButton,
  kCloseButton,
  // The status line.
  kSearchingStatus,
  kCreatingPageStatus,
  kExecutingBrowserStatus,
  // The status line after a search: %N stands for the number of articles found, %P for the
  // phrase as the entry shows it.
  kFoundStatus,
  kFoundOneStatus,
  kNotFoundStatus,
  kStoppedStatus,
  // Messages, and the captions of their boxes.
  kHeaderUnopened,
  kHeaderUnread,
  kFooterUnopened,
  kFooterUnread,
  kArticleUnopened,
  kArticleUnread,
  kFolderUnread,
  kErrorJoiner,  // between an article's or the folder's path and the error number
  kPageUnopened,
  kPageUnopenedCaption,
  kPageUnwritten,
  kPageUnwrittenCaption,
  kErrorCaption,  // of a failed browser launch, and of the message that ends a start
  kNoMemory,
  kFolderUnentered,  // before the folder the window was to search in, then why
  kFolderUnenteredCaption,
  kFolderDialogCaption,
  kSettingsProblem,               // before the settings file's name, line and what is wrong
  kKnowledgeBaseSettingsProblem,  // the same, for the knowledge base's settings file
};

// The longest message of the error table, in bytes: what an 80-byte error text can hold.
inline constexpr std::size_t kLongestErrorMessage = 79;

// A full set of texts: the defaults, and the ones that replace them.
class ProgramTexts {
 public:
  enum class Replacement {
    kDone,
    kUnknownKey,  // no text has the key
    kTooLong,     // a message of the error table longer than kLongestErrorMessage
  };

  // Replaces the text whose key is `key`, compared without regard to case, with `text`.
  Replacement Replace(std::string_view key, std::string_view text);

  std::string_view Of(TextId id) const;
  // The error table's message for `number`; none for a number without one.
  std::optional<std::string_view> ErrorMessageOf(int32_t number) const;
  // The message for a failed browser launch's `code`; empty for a code without one, and for
  // one whose message was replaced by an empty text.
  std::string_view LaunchErrorOf(int64_t code) const;

 private:
  std::string_view Row(std::size_t row) const;

  // By row of the table; empty until a text is replaced.
  std::vector<std::optional<std::string>> replaced_;
};

// Every key, in the order of the table: the named texts, then Error<N> for each number of the
// error table, then LaunchError<N> for each code of a failed launch.
std::vector<std::string> ProgramTextKeys();

// The texts in use; the defaults until UseProgramTexts().
const ProgramTexts& CurrentTexts();

// CurrentTexts().Of(id).
std::string_view ProgramText(TextId id);

// Makes `texts` the texts in use. Only at start, before any other thread runs (and in tests,
// between cases).
void UseProgramTexts(ProgramTexts texts);

}  // namespace kb
