#pragma once

// The search itself: every article file ZEB/ZEB*.htm of the working directory is read whole
// and kept as a result when it holds the phrase, compared as state.match_settings say (by
// default byte for byte, letters a-z matching their capitals), and the article marker
// "<!-- Article starts -->".

#include <string_view>

#include "app/search_screen.h"
#include "app/search_state.h"

namespace kb {

inline constexpr std::string_view kArticlePattern = "ZEB/ZEB*.htm";
inline constexpr std::string_view kArticlePathPrefix = "./ZEB/";
inline constexpr std::string_view kSearchingStatus = "Searching through files...";

// Upper-cases state.search_text in place, through state.match_settings.case_table, and lists
// the article files into state.file_queue in the order the directory gives them. When at
// least one is listed: shows the status text and the progress bar, refills
// state.result_queue with the path and excerpt of each article that matches, in listing
// order, stepping the progress for each article opened, and hides the bar again. When none is
// listed, state.result_queue is left as it was. Ends by redrawing the window.
//
// Articles are opened for reading only, others denied writing, and streamed block by block,
// so memory stays small however large an article is. One that cannot be opened is reported
// in a message box and skipped; a read error ends an article without a message.
void ScanKnowledgeBase(SearchState& state, SearchScreen& screen);

}  // namespace kb
