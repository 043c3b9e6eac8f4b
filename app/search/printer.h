#pragma once

// A printer: one way of showing what a search found. The search hands each printer every
// found article as the scan reaches it, in listing order, and every failure in its place
// among them; then the report of the whole search. The results page is written by the search
// itself (WriteResultsPage, app/page/results_page.h), since the browser launch follows it;
// the console's output formats and the window's list are printers, and a new kind of output
// plugs in as another, without touching the scan.
//
// A printer is called on the thread that runs the search, never concurrently. What it needs
// about an article beyond its path and excerpt it can have the scan collect on the threads
// that read articles (SearchRequest::inspect_match), or read the article again itself.

#include "app/base/failure.h"
#include "app/base/found_article.h"

namespace kb {

struct SearchReport;

class Printer {
 public:
  virtual ~Printer() = default;

  virtual void ArticleFound(const FoundArticle& article) = 0;
  // A failure reported, in its place among the articles. The search reports failures to its
  // screen alone; a front end whose printer shows failures too passes them on from there.
  virtual void FailureReported(const Failure& failure) { static_cast<void>(failure); }
  // The scan has handed over its last article and the page is about to be written. A printer
  // that holds articles back (in a buffer for its output) delivers them here; one that cannot
  // deliver them requests the search's stop, and the page is then not written, so that no
  // page ever stands for articles its reader did not get.
  virtual void DeliverResults() {}
  // The search has ended, completed or stopped.
  virtual void SearchDone(const SearchReport& report) { static_cast<void>(report); }
};

}  // namespace kb
