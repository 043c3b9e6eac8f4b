#pragma once

// The settings file, kbsearch.env: what the user chooses about the program beyond its
// defaults. It is optional; without it every setting keeps its default.
//
// Where it is: the file named by $KBSEARCH_ENV when that is set (and then it must be there);
// else kbsearch/kbsearch.env in $XDG_CONFIG_HOME (by default ~/.config), then in each folder
// of $XDG_CONFIG_DIRS (by default /etc/xdg), the first one found. A default place passes
// over silently when the file is missing or a folder on its way may not be searched by the
// user (as another user's home may not be, under a HOME left by sudo -u); a file there that
// cannot be read is reported. An empty file, and the null device, mean every default.
//
// What it holds: UTF-8 lines "Key = Value"; blanks and tabs around the key and the value do
// not count, keys and the words of values are matched without regard to case, and empty
// lines and lines that start with "#" are comments. A value between double quotes is taken
// without them, so that a text may begin or end with blanks; one that opens a double quote
// and does not close it is a problem. Lines apply in order, so a key
// given twice keeps its last value. A line that cannot be understood (no "=", an unknown
// key, a bad value, bytes that are not UTF-8) is a problem: it is reported and changes
// nothing, and the other lines still apply. The keys:
//   CaseFolding   = ascii | unicode    letters a-z and the case pairs, or Unicode folding
//   IgnoreAccents = no | yes           letters match whatever accents they carry (unicode)
//   CasePairs     = E9C9 E0C0 ...      pairs of bytes above 7F, small letter then capital,
//                                      added to the case table (an empty value adds none)
//   Match         = bytes | text       the article's bytes, or the text a browser shows
//   Marker        = TEXT | body        the text after which the article begins, to the end
//                                      of the page; body: after the <body> tag; by default
//                                      "<!-- Article starts -->", and the page is searched
//                                      whole (app/match/article_region.h)
//   Ignore        = nav, .sidebar ...  elements, or classes with a dot, left out of the
//                                      article's text (Match = text only); empty: none
//   Query         = phrase | words     the text searched for is one phrase, or words that
//                                      an article must all hold (app/base/query.h)
//   Results       = classic | snippets the results page: paths and excerpts, or also each
//                                      article's title, hits and text around them
//   Order         = name | hits | relevance
//                                      the snippets page's rows in listing order, most hits
//                                      first, or by relevance (app/search/result_order.h)
//   History       = on | off           whether the window keeps the phrases searched for
//   Articles      = ZEB/ZEB*.htm       which files are the articles: a pattern of paths
//                                      inside the knowledge base, "**" for any folders
//                                      (files/tree_listing.h); set, it makes the folder a
//                                      knowledge base
//   Exclude       = PATTERN, ...       paths left out of the articles (none by default)
//   Page          = /PATH              where the results page of a knowledge base whose
//                                      Articles are not ZEB/ZEB*.htm goes (page_place.h)
//   and the key of each replaceable text (app/base/replaceable_texts.h), whose value
//   replaces the text; a message of the error table holds at most 79 bytes.
//
// A knowledge base may hold a settings file of its own, kbsearch.env beside its folder ZEB,
// written by whoever wrote its articles and templates. It is read after the user's, so its
// lines win, and may set only how the articles are searched and shown (CaseFolding,
// IgnoreAccents, CasePairs, Match, Marker, Ignore, Query, Results, Order, Articles, Exclude: the
// list kKnowledgeBaseKeys in settings_file.cpp); any other key there (Index, IndexLimit, History, a
// text...) is a problem that quotes the key alone. It is never read through a symbolic link.
//
// Each key but the texts' is one row of the table in settings_file.cpp: its name and the
// function that applies a value to Settings.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/base/knowledge_base.h"
#include "app/base/query.h"
#include "app/base/replaceable_texts.h"
#include "app/base/results_settings.h"
#include "app/match/match_settings.h"
#include "platform/file_system.h"
#include "support/program_texts/program_texts.h"

namespace kb {

inline constexpr std::string_view kSettingsFileName = "kbsearch.env";
inline constexpr std::string_view kSettingsFileVariable = "KBSEARCH_ENV";

// Everything the settings file sets, each at its default until a line sets it.
struct Settings {
  MatchSettings match;
  // How the text typed is read: one phrase, or words.
  QueryKind query_kind = QueryKind::kPhrase;
  ResultsSettings results;
  // Index = auto | off: whether searches may use, and the window keep, the article index.
  bool use_index = true;
  // IndexLimit: the most bytes the article indexes of all knowledge bases take together.
  uint64_t index_limit = uint64_t{1} << 30;
  // The window keeps the phrases searched for in a file (app/window/phrase_history.h).
  bool keep_history = true;
  // Articles: the pattern of the articles' paths, when a line set it; Exclude: the paths
  // left out (KnowledgeBase, app/base/knowledge_base.h).
  std::optional<std::string> articles;
  std::vector<std::string> exclude;
  // Page: the results page's path, for a knowledge base other than a ZEB one.
  std::optional<std::string> page;
  // The program's texts; a front end makes them the texts in use (UseProgramTexts) at start.
  ProgramTexts texts;
};

// Something wrong with a settings file: one of its lines, or the file as a whole (line 0).
struct SettingsProblem {
  std::string file;
  int32_t line = 0;
  std::string what;

  // "FILE, line N: WHAT", or "FILE: WHAT" for the file as a whole.
  std::string Describe() const;

  bool operator==(const SettingsProblem&) const = default;
};

// Whose settings file a file is: the user's, or the knowledge base's, which sets no text.
enum class SettingsSource { kUser, kKnowledgeBase };

// Applies the lines of `contents`, read from the settings file `file`, to `settings`, and
// adds a problem for each line that cannot be understood or that `source` may not set.
void ParseSettings(std::string_view contents, std::string_view file, Settings& settings,
                   std::vector<SettingsProblem>& problems,
                   SettingsSource source = SettingsSource::kUser);

// Where the settings file is looked for, first to last.
struct SettingsPlaces {
  std::vector<std::string> paths;
  // The one place was named by $KBSEARCH_ENV: a missing file there is a problem.
  bool named = false;
};

// The value of an environment variable, nothing when it is not set.
using VariableLookup = std::function<std::optional<std::string>(std::string_view name)>;

// The places, from the environment as `variable` gives it. Relative folders in the XDG
// variables are passed over, as the XDG rules ask.
SettingsPlaces FindSettingsPlaces(const VariableLookup& variable);

// Reads the first of `places` that holds a file, through `env`, into `settings`, and gives its
// path; "" when none does. A file that is there but cannot be read, and a named file that is
// missing or cannot be reached, are problems, and the settings then keep their defaults; a
// default place behind a folder the user may not search is passed over as a missing file is.
// The null device is read as an empty file.
std::string ReadSettingsFile(platform::Env& env, const SettingsPlaces& places, Settings& settings,
                             std::vector<SettingsProblem>& problems);

// ReadSettingsFile with the places this process's environment variables give.
std::string LoadSettings(platform::Env& env, Settings& settings,
                         std::vector<SettingsProblem>& problems);

// The knowledge base of the current directory as `settings` lay it out, its root `root`.
KnowledgeBase KnowledgeBaseOf(const Settings& settings, std::string root);

// What is wrong with `pattern` as the value of `key` (Articles, Exclude; files/tree_listing.h),
// in a sentence that names both; "" when it is sound.
std::string PatternProblem(std::string_view key, std::string_view pattern);

// Appends to `patterns` the patterns of `value` apart by commas, blanks around each dropped
// and empty ones skipped; what is wrong with the first unsound one, or "" (PatternProblem).
std::string SplitPatterns(std::string_view key, std::string_view value,
                          std::vector<std::string>& patterns);

// What is wrong with `settings` once every file and option has applied to them: an Ignore
// list while the articles' bytes are matched (which have no elements to leave out). Empty
// when nothing is.
std::string SettingsConflict(const Settings& settings);

// The name of the user's settings file for the knowledge base in the folder `folder`, an
// absolute path: every byte of the path but the ASCII letters, digits, ".", "_" and "-"
// written as "%" and two hex digits in capitals, then ".env". "/usr/share/doc/python3.11/html"
// gives "%2Fusr%2Fshare%2Fdoc%2Fpython3.11%2Fhtml.env". Empty when the name would be longer
// than a file's name may be (255 bytes).
std::string KnowledgeBaseSettingsName(std::string_view folder);

// Where the user's settings file for the knowledge base in `folder` is:
// kbsearch/kb/KnowledgeBaseSettingsName(folder) in $XDG_CONFIG_HOME (by default ~/.config).
// None when no absolute folder is given for it, or the name is too long.
std::optional<std::string> KnowledgeBaseSettingsPath(const VariableLookup& variable,
                                                     std::string_view folder);

// Reads the knowledge base's settings, into `settings`: its own file, kbsearch.env in the
// working directory, when there is one; then the user's file for it
// (KnowledgeBaseSettingsPath of the working directory's canonical path), when there is one, so
// that the user's choices win and a knowledge base that may not be written can be set up. Both
// are read alike: only the keys of a knowledge base, never through a symbolic link, their
// problems reported as the knowledge base's. One that is not a regular file, is larger than
// 64 KB or cannot be read is a problem and changes nothing.
void ReadKnowledgeBaseSettings(platform::Env& env, Settings& settings,
                               std::vector<SettingsProblem>& problems);

// Whether the knowledge base's settings of `folder`, its own file or the user's for it, set
// Articles (read as ReadKnowledgeBaseSettings reads it): what makes a folder without ZEB or
// templates a knowledge base.
bool SettingsSetArticles(platform::Env& env, std::string_view folder);

}  // namespace kb
