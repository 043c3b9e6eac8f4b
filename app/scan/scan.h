#pragma once

// The search itself: every article file ZEB/ZEB*.htm of the working directory is read whole
// and kept as a result when it holds the phrase, compared as state.match_settings say (by
// default byte for byte, letters a-z matching their capitals), and the article marker
// "<!-- Article starts -->".

#include <cstddef>
#include <stop_token>
#include <string_view>

#include "app/base/knowledge_base.h"
#include "app/scan/article_filter.h"
#include "app/state/search_screen.h"
#include "app/state/search_state.h"

namespace kb {

// The most threads a scan reads with unless it is told a number.
inline constexpr std::size_t kMostDefaultScanThreads = 16;
// The most of a found article that its snippets and hits are taken from.
inline constexpr std::size_t kLargestSnippetArticle = 64 << 20;
// The most articles read ahead of the one the screen has reached.
inline constexpr std::size_t kArticlesInFlight = 256;
// Articles asked of the disk at once by default while they are not in memory: a solid-state
// disk serves that many requests together (files/read_ahead.h).
inline constexpr std::size_t kDefaultIoDepth = 64;

// The threads a scan reads with unless it is told a number: one for each processor the
// program may run on, at most kMostDefaultScanThreads.
std::size_t DefaultScanThreads();

struct ScanOptions {
  // Threads reading articles at once, the calling thread included; 1 (or 0) reads them one
  // after another on the calling thread alone.
  std::size_t threads = 1;
  // Asked between articles and between the blocks of each.
  std::stop_token stop = {};
  // When set, asked once the articles are listed which of them need reading; the others
  // count as opened without a match (app/scan/article_filter.h).
  ArticleFilter* filter = nullptr;
  // Articles read ahead of the threads, by threads of their own, while the articles are
  // found missing from memory (files/read_ahead.h); 0 reads none ahead.
  std::size_t io_depth = 0;
};

// Upper-cases state.search_text in place, through state.match_settings.case_table, and lists
// the article files into state.file_queue, sorted by name (files/directory_listing.h). A
// folder ZEB that exists but cannot be read is reported in a message box; a missing one is
// not. When at least one article is listed: shows the status text and the progress bar,
// refills state.result_queue with the path and excerpt of each article that matches, as
// state.match_settings compare them (and, when state.results_settings ask for snippets,
// state.result_snippets with what each shows, read from the article again whole on the
// thread that read it), stepping the progress for each article opened, and hides the bar
// again. When none is listed, state.result_queue is left as it was. Ends by
// redrawing the window.
//
// Articles are opened for reading only, others denied writing, and streamed block by block,
// so memory stays small however large an article is. One that cannot be opened is reported
// in a message box and skipped; one whose reading fails is reported, and what was read of it
// before is searched all the same.
//
// With several threads, the articles are read concurrently but everything the screen and
// the state see happens on the calling thread, in listing order, exactly as with one thread:
// the same messages in the same order, the same progress steps, the same results. At most
// kArticlesInFlight articles are read ahead while the screen shows a message.
//
// Returns true when every listed article was scanned, false when `options.stop` ended the
// scan first: the articles reached until then are in state.result_queue, the bar is hidden
// and the window redrawn all the same.
bool ScanKnowledgeBase(SearchState& state, SearchScreen& screen, const ScanOptions& options);

}  // namespace kb
