#pragma once

// Everything a search works on, owned by whichever front end runs (the window or the console)
// for the whole life of the program. The search steps (templates.h, scan.h, results_page.h,
// browser_launch.h) are functions over it.

#include <cstdint>
#include <vector>

#include "app/base/knowledge_base.h"
#include "app/match/article_snippets.h"
#include "app/match/match_settings.h"
#include "app/state/results_settings.h"
#include "files/directory_listing.h"
#include "files/text_line_file.h"
#include "platform/file_system.h"
#include "support/queue/record_queue.h"
#include "support/queue/text_queue.h"
#include "support/text/text.h"
#include "support/text/utf8.h"

namespace kb {

// The longest phrase a user can search for, in characters (support/text/utf8.h,
// CountCharacters), and the most bytes it can take.
inline constexpr std::size_t kMaxSearchTextLength = 100;
inline constexpr std::size_t kMaxSearchTextBytes = kMaxSearchTextLength * kLongestUtf8Sequence;

// One found article; 516 bytes.
struct ResultRecord {
  FixedString<kLongestArticlePath> file;  // SQFILE: the article's path as it was opened, whole
  FixedString<255> excerpt;               // SQEXCERPT: at most 201 bytes after the marker

  static constexpr FieldSpec kLayout[] = {{FieldType::kString, kLongestArticlePath},
                                          {FieldType::kString, 255}};
};
static_assert(sizeof(ResultRecord) == 516);

// An opaque handle of the window that owns message boxes and shell requests; 0 for none.
using NativeWindowHandle = std::uintptr_t;

// What the last browser launch asked of the shell.
struct LaunchVariables {
  CString<20> verb;
  CString<256> file;
  CString<4096> directory;  // the whole working directory, as deep as a path can go
  CString<256> parameters;
  int16_t show_mode = 0;
  NativeWindowHandle owner = 0;
  int64_t result = 0;
};

struct SearchState {
  // Every file of the search is reached through `file_system`, which must outlive the state.
  explicit SearchState(platform::Env& file_system = platform::Env::Default()) : env(file_system) {}

  platform::Env& env;

  CString<kMaxSearchTextBytes + 1> search_text;  // SearchText; upper-cased by each scan
  MatchSettings match_settings;                  // how the scan compares it with articles
  ResultsSettings results_settings;              // how the page shows what it found

  uint8_t progress_percent = 0;  // ProgressPercent, shown by the progress bar
  int32_t files_done = 0;        // FilesDone: articles opened so far
  int32_t files_total = 0;       // FilesTotal: articles listed

  TextQueue header_queue;            // HeaderQueue: the lines of lheader.htm, each whole
  TextQueue footer_queue;            // FooterQueue: the lines of lfooter.htm, each whole
  Queue<FileRecord> file_queue;      // FileQueue: the listed articles
  Queue<ResultRecord> result_queue;  // ResultQueue: the found articles
  // With ResultsStyle::kSnippets, what each found article shows, in the order of result_queue;
  // empty otherwise.
  std::vector<ArticleSnippets> result_snippets;

  CString<256> result_file_name;  // ResultFileName: the page written by the last search
  LaunchVariables launch;

  // The program's text file declarations: templates are read through import_file, the
  // results page written through export_file; their records grow, so that no line of a
  // template or of the page is cut. Articles are read through block files of their own, one
  // for each thread of the scan (app/scan/article_scan.h).
  TextLineFile import_file{
      {.record_length = 255, .options = "/FILEBUFFERS=100", .growing_record = true}, env};
  TextLineFile export_file{
      {.record_length = 255, .options = "/FILEBUFFERS=100", .growing_record = true}, env};
};

}  // namespace kb
