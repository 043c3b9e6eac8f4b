#pragma once

// The two page templates that wrap every results page: lheader.htm before the results and
// lfooter.htm after them, read from the working directory once, when the program starts.

#include <string_view>

#include "app/base/knowledge_base.h"
#include "app/state/search_screen.h"
#include "app/state/search_state.h"

namespace kb {

// Reads every line of lheader.htm into state.header_queue and of lfooter.htm into
// state.footer_queue, in file order, each line whole however long it is (only CR LF ends a
// line, so an LF-only or CR-only file is one line that keeps its bytes). Both files are
// opened for reading only, others denied writing.
//
// A header that cannot be opened, or cannot be read whole (a read error, or too little
// memory to keep its lines), is reported in a message box and the footer is not tried; a
// footer that cannot be opened or read whole is reported likewise. The lines read before a
// failure are kept.
void LoadPageTemplates(SearchState& state, SearchScreen& screen);

}  // namespace kb
