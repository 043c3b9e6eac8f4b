#pragma once

// What a front end does with the search: show the settings file's problems and load the page
// templates once at start, and run one search for each press of Search. A search is a
// function over values: a request in, a report out, its events told to a screen and its
// findings to printers as they come.

#include <cstddef>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "app/base/found_article.h"
#include "app/base/knowledge_base.h"
#include "app/base/results_settings.h"
#include "app/match/match_settings.h"
#include "app/page/templates.h"
#include "app/scan/scan.h"
#include "app/search/browser_launch.h"
#include "app/search/printer.h"
#include "app/search/search_screen.h"
#include "app/setup/settings_file.h"
#include "platform/file_system.h"

namespace kb {

// Shows each problem in a message box of its own, as the template messages are shown: the
// text "Problem in the settings file: " (or, for SettingsSource::kKnowledgeBase, "Problem in
// the knowledge base's settings file: "; the program's texts in use) and the problem
// described, an empty caption, no icon, a single OK button. A front end shows them once, at
// start, before the templates are read.
void ShowSettingsProblems(const std::vector<SettingsProblem>& problems, FailureReporter& screen,
                          SettingsSource source = SettingsSource::kUser);

// Loads the knowledge base's templates (lheader.htm and lfooter.htm) from the current
// directory through `env`. A template that cannot be opened or read is reported to `screen`;
// but a knowledge base that does not list the folder ZEB and has neither template gets the
// plain built-in ones (PlainPageTemplates, app/page/templates.h), without a word.
PageTemplates LoadTemplates(platform::Env& env, FailureReporter& screen,
                            const KnowledgeBase& base = {});

// What a search does with the results page.
enum class PageHandling {
  kOpenInBrowser,  // write it and hand it to the browser (the window; kbsearch-cli --open)
  kWriteOnly,      // write it and leave it on disk (kbsearch-cli)
  kNone,           // neither write it nor start anything (kbsearch-cli --list)
};

// Everything one search works from, copied in, so that it may run on any thread.
struct SearchRequest {
  // The knowledge base searched: the current directory, as its front end made it.
  KnowledgeBase knowledge_base = {};
  Query query = {};  // what is looked for, its text as typed
  MatchSettings match_settings = {};
  PageTemplates templates = {};
  PageHandling page_handling = PageHandling::kOpenInBrowser;
  // Threads reading articles at once, the one that runs the search included: 0 for
  // DefaultScanThreads() (app/scan/scan.h), 1 to read them one after another on that thread.
  std::size_t threads = 0;
  // Asks the search to stop, from any thread (a std::stop_source's token).
  std::stop_token stop = {};
  // The scan's hooks (ScanRequest, app/scan/scan.h): spares it the articles known to need no
  // reading; collects more about each found article.
  ArticleFilter* filter = nullptr;
  MatchInspection inspect_match = {};
  // Threads that read besides those while the articles are not in memory (ScanRequest):
  // none given, kDefaultIoDepth (app/scan/scan.h) with the default threads and none with a
  // number of threads given, so that a number of threads means those threads alone.
  std::optional<std::size_t> io_depth = std::nullopt;
  // How the page shows what was found, and in what order. With snippets and no inspect_match
  // of its own, the search collects what each found article shows (ArticleDetails::shown,
  // app/match/article_snippets.h) for the page and the printers, and with an order by hits or
  // relevance what weighs it (ArticleDetails::weights).
  ResultsSettings results = {};
  // The listing of the articles, when kept between searches (ScanRequest::listing).
  ArticleListing* listing = nullptr;
  // None: the printers are handed each found article as the scan reaches it, in listing
  // order. An order: they are handed them all once the scan has ended, in that order
  // (app/search/result_order.h), with what weighs them collected as for the page; a search
  // stopped before then hands them none.
  std::optional<ResultsOrder> printed_order = std::nullopt;
  // For a program that shows a page of the found articles after the search (ShownAfterSearch):
  // what up to this many of them show is made by the scan's threads as well, from the copies
  // the scan kept of them, so that a page of those needs no article read again. Which ones
  // is left to the threads; the outcome is the same either way.
  std::size_t shown_ahead = 0;
  // Called before each article read (ScanRequest::before_article).
  std::function<void()> before_article = {};
};

enum class SearchOutcome {
  kCompleted,
  kCancelled,  // stopped through SearchRequest::stop
};

// What one search came to.
struct SearchReport {
  SearchOutcome outcome = SearchOutcome::kCompleted;
  std::string phrase = {};  // the query's text as compared and shown on the page: upper-cased
  int32_t articles_listed = 0;
  int32_t articles_opened = 0;
  std::vector<FoundArticle> found = {};  // in listing order (ResultQueue)
  // The results page's rows: indices into `found`, in the order the page shows them (the
  // classic page's in listing order, the snippets page's in the order the settings ask for).
  std::vector<std::size_t> rows = {};
  std::optional<BrowserLaunch> launch = {};  // when the browser was started
};

// One search for request.query in the knowledge base of the current directory, through `env`:
// scans the articles; when at least one article file was listed, writes the results page
// (ZebResult.htm) and, unless asked to write
// only, hands it to the browser (with PageHandling::kNone, neither); then ends. Failures are
// reported to `screen` (and to each printer); none ends the program.
//
// RunSearch may run on any thread; it calls `screen` and `printers` on that thread alone. To
// cancel it from another thread, request a stop of request.stop's source: the scan stops
// within one block of the articles being read, the threads it made are gone when RunSearch
// returns, and the outcome is kCancelled. A cancelled search writes no page and starts no
// browser, so the previous page stays as it was (a stop that comes while the page is being
// written leaves the old page in place; one that comes after the new page took its place
// spares only the browser); the screen hears the scan and the search end as after any
// search, and the report holds the articles found before the stop.
SearchReport RunSearch(platform::Env& env, const SearchRequest& request, SearchScreen& screen,
                       const std::vector<Printer*>& printers = {});

// What `found`, an article a search for `query` found in `base`, shows on the snippets page
// (ArticleDetails::shown), made after the search from the article read again through `env`
// (beneath the root for a tree), as the search makes it of an article it could not keep: with
// the hits it counted (found.details.weights) when it weighed them. For a program that shows
// a few of many found articles at a time (the search server), which then makes the snippets
// of those alone. Empty snippets when the article cannot be read.
ArticleSnippets ShownAfterSearch(platform::Env& env, const KnowledgeBase& base, const Query& query,
                                 const MatchSettings& settings, const FoundArticle& found);

}  // namespace kb
