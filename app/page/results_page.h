#pragma once

// The results page, ZebResult.htm in the working directory: the header template's lines, a
// summary table with the number of found articles and the phrase, one table row per found
// article (a link to it and its excerpt), and the footer template's lines. Every line ends
// with CR LF and no line is ever cut.
//
// The page is valid HTML whatever the articles hold: the excerpt is shown as the text a
// reader sees (app/page/excerpt_text.h), without any markup of the article; in the link text and
// the phrase, & < > and " are written as character references; the link target is the path
// as a relative URL.

#include <cstddef>
#include <cstdint>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>

#include "app/base/failure.h"
#include "app/base/found_article.h"
#include "app/base/knowledge_base.h"
#include "app/base/results_settings.h"
#include "app/page/templates.h"
#include "platform/file_system.h"

namespace kb {

// Where the page goes and how it links to the articles (KnowledgeBase::page and link_base).
struct PagePlace {
  std::string_view path = kResultsPageName;
  std::string_view link_base = {};
};

// Writes the page place.path (kResultsPageName, app/base/knowledge_base.h, unless the
// knowledge base names another) through `env`: `templates`
// around a summary of `found` for `phrase` (as the scan compared it) and a row for each
// article of `found`, in the order `rows` gives (indices into `found`; empty: in found's own
// order). With nothing found the page is empty (zero bytes).
//
// The new page replaces the old one whole, never through a link (TextLineFile::Replace): it
// is written into a hidden file beside it and put in its place once complete, so a reader
// sees the old page or the new one, and a failure leaves the old page as it was. A page that
// another program holds locked, that is not a regular file or that may not be written is
// reported to `reporter` ("Error opening result file") and nothing is written (another
// kbsearch writing the same page is waited for, 2 seconds at most, on a lock of kbsearch's
// own in $XDG_RUNTIME_DIR); a failed
// write, close or rename is reported once ("Error writing result file"). When `stop` is
// requested before the page is put in place, the old page stays.
//
// With ResultsStyle::kSnippets, the rows are those of app/page/snippets_page.h, from what
// each article's details show (none shows nothing but its link and excerpt), rendered on as
// many threads as the machine runs (a few at most) before they are written; with nothing
// found the page then holds the templates and a summary of 0 pages found.
void WriteResultsPage(platform::Env& env, const PageTemplates& templates,
                      std::span<const FoundArticle> found, std::span<const std::size_t> rows,
                      std::string_view phrase, FailureReporter& reporter,
                      const std::stop_token& stop = {}, ResultsStyle style = ResultsStyle::kClassic,
                      PagePlace place = {});

// `text` with & < > and " written as &amp; &lt; &gt; and &quot;; every other byte unchanged.
std::string EscapeHtml(std::string_view text);
// The same, added to `out`.
void AppendEscapedHtml(std::string& out, std::string_view text);

// `path` as a relative URL: every byte but A-Z a-z 0-9 - . _ ~ and / as % and two upper-case
// hex digits.
std::string PercentEncodePath(std::string_view path);

// The link to the article at `path` ("./" and its path from the knowledge base's folder): the
// path as a relative URL (PercentEncodePath) when `link_base` is empty, for a page in that
// folder; else `link_base`, the folder's own URL ending in "/", and the path without "./",
// percent-encoded so.
std::string ArticleHref(std::string_view path, std::string_view link_base);

// The first line of a result's row: a link to the article at `path` (ArticleHref).
std::string LinkLine(std::string_view path, std::string_view link_base = {});

// The line of the summary table that reports `count` articles found for `phrase`.
std::string SummaryLine(int32_t count, std::string_view phrase);

}  // namespace kb
