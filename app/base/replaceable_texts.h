#pragma once

// The texts of the search and the window that the user may replace through the settings
// file, each under the name of the code that shows it, and the registry of every key the
// settings file accepts for a text: these, the message box's captions
// (support/message_box/message_box_content.h) and the error table
// (support/error_state/error_messages.h). The texts live here, below the folders that show
// them, so that the settings file (app/setup) knows every key without seeing those folders.
//
// Each message text is followed, where it is shown, by what it is about: a path, or an error
// number, ", " and the error's text.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "support/program_texts/program_texts.h"

namespace kb {
namespace text {

// The window's controls (app/window); "&" marks the access key.
inline constexpr ReplaceableText kSearchPrompt{"SearchPrompt", "Search for:"};
// The prompt instead when the text is read as words (Query = words).
inline constexpr ReplaceableText kWordsSearchPrompt{"WordsSearchPrompt",
                                                    "Search for all the words:"};
inline constexpr ReplaceableText kSearchButton{"SearchButton", "&Search"};
inline constexpr ReplaceableText kCloseButton{"CloseButton", "Close"};
// The button (and Ctrl+O) that opens another knowledge base.
inline constexpr ReplaceableText kOpenButton{"OpenButton", "&Open…"};

// The search's steps, on the window's status line and the console's terminal (app/search).
inline constexpr ReplaceableText kSearchingStatus{"SearchingStatus", "Searching through files..."};
inline constexpr ReplaceableText kCreatingPageStatus{"CreatingPageStatus",
                                                     "Creating index page..."};
inline constexpr ReplaceableText kExecutingBrowserStatus{"ExecutingBrowserStatus",
                                                         "Executing browser..."};

// The window's status line after a search (app/window): %N stands for the number of articles
// found, %P for the phrase as the entry shows it.
inline constexpr ReplaceableText kFoundStatus{"FoundStatus", "%N articles found"};
inline constexpr ReplaceableText kFoundOneStatus{"FoundOneStatus", "1 article found"};
inline constexpr ReplaceableText kNotFoundStatus{"NotFoundStatus", "No article holds \"%P\""};
inline constexpr ReplaceableText kStoppedStatus{"StoppedStatus", "Search stopped"};

// The search server's page (server): its choice of how the text is read and of the order of
// the results, each a label and its options.
inline constexpr ReplaceableText kQueryChoice{"QueryChoice", "Read as:"};
inline constexpr ReplaceableText kWordsChoice{"WordsChoice", "all the words"};
inline constexpr ReplaceableText kPhraseChoice{"PhraseChoice", "one phrase"};
inline constexpr ReplaceableText kOrderChoice{"OrderChoice", "Order:"};
inline constexpr ReplaceableText kNameOrderChoice{"NameOrderChoice", "by name"};
inline constexpr ReplaceableText kHitsOrderChoice{"HitsOrderChoice", "by hits"};
inline constexpr ReplaceableText kRelevanceOrderChoice{"RelevanceOrderChoice", "by relevance"};
// Under a result of the server's page: %N stands for the hits of the article.
inline constexpr ReplaceableText kHitsCount{"HitsCount", "%N hits"};
inline constexpr ReplaceableText kOneHitCount{"OneHitCount", "1 hit"};

// The templates' failures (app/page).
inline constexpr ReplaceableText kHeaderUnopened{"HeaderUnopened",
                                                 "Can not open the header file: "};
inline constexpr ReplaceableText kHeaderUnread{"HeaderUnread", "Can not read the header file: "};
inline constexpr ReplaceableText kFooterUnopened{"FooterUnopened",
                                                 "Can not open the Footer file: "};
inline constexpr ReplaceableText kFooterUnread{"FooterUnread", "Can not read the Footer file: "};

// A words query that cannot be searched for (app/base/query.h).
inline constexpr ReplaceableText kQueryUnclosedQuote{
    "QueryUnclosedQuote", "The search text has a double quote (\") without its closing one."};
inline constexpr ReplaceableText kQueryNothingRequired{
    "QueryNothingRequired",
    "The search text has no word to look for: give one that does not begin with \"-\"."};

// The scan's failures (app/scan); ErrorJoiner stands between an article's or the folder's
// path and the error number.
inline constexpr ReplaceableText kArticleUnopened{"ArticleUnopened", "Could not open file: "};
inline constexpr ReplaceableText kArticleUnread{"ArticleUnread", "Could not read file: "};
inline constexpr ReplaceableText kFolderUnread{"FolderUnread", "Could not read the folder: "};
inline constexpr ReplaceableText kErrorJoiner{"ErrorJoiner", "|Error: "};
// A tree of articles the listing does not take whole: before the number the limit is and the
// first path left out.
inline constexpr ReplaceableText kFolderTooDeep{
    "FolderTooDeep", "Not searched: a folder nested more deeply than the most folders, "};
inline constexpr ReplaceableText kTooManyArticles{
    "TooManyArticles", "Not searched: the articles past the most a search takes, "};
inline constexpr ReplaceableText kLimitJoiner{"LimitJoiner", ", from: "};

// The results page's failures, and their captions (app/page).
inline constexpr ReplaceableText kPageUnopened{
    "PageUnopened", "Can not create/open the results file.  Error returned: "};
inline constexpr ReplaceableText kPageUnopenedCaption{"PageUnopenedCaption",
                                                      "Error opening result file"};
inline constexpr ReplaceableText kPageUnwritten{
    "PageUnwritten", "Can not write the results file.  Error returned: "};
inline constexpr ReplaceableText kPageUnwrittenCaption{"PageUnwrittenCaption",
                                                       "Error writing result file"};

// The caption of a failed browser launch (app/search) and of the message that ends a start.
inline constexpr ReplaceableText kErrorCaption{"ErrorCaption", "ERROR"};

// Shown by no one any more; its key stays accepted, so that settings files that set it
// still load.
inline constexpr ReplaceableText kNoMemory{
    "NoMemory", "Can not start: there is not enough memory for the search."};

// The window's start (app/setup, gui): the folder it was to search in, then why; the
// caption of the folder dialog.
inline constexpr ReplaceableText kFolderUnentered{"FolderUnentered", "Could not open the folder: "};
inline constexpr ReplaceableText kFolderUnenteredCaption{"FolderUnenteredCaption",
                                                         "Error opening folder"};
inline constexpr ReplaceableText kFolderDialogCaption{"FolderDialogCaption",
                                                      "Choose the knowledge base folder"};

// Before a settings file's name, line and what is wrong (app/search): the user's, and the
// knowledge base's.
inline constexpr ReplaceableText kSettingsProblem{"SettingsProblem",
                                                  "Problem in the settings file: "};
inline constexpr ReplaceableText kKnowledgeBaseSettingsProblem{
    "KnowledgeBaseSettingsProblem", "Problem in the knowledge base's settings file: "};

// A build of the article index refused while another one runs (app/index), before the
// index's path.
inline constexpr ReplaceableText kIndexBuildRunning{
    "IndexBuildRunning", "another kbsearch is building this index now: "};

}  // namespace text

// The messages of a failed browser launch (app/search), by the code the launch gave.
std::span<const NumberedText> LaunchErrorTexts();

// Every replaceable text, in the order the settings file's manual lists them: the message
// box's captions, the named texts above, the error table, the launch messages.
std::vector<const ReplaceableText*> ReplaceableTexts();

// The text whose key is `key`, compared without regard to case; none when no text has it.
const ReplaceableText* FindReplaceableText(std::string_view key);

// The key of every replaceable text, in the order of ReplaceableTexts().
std::vector<std::string> ProgramTextKeys();

}  // namespace kb
