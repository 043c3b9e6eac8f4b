#pragma once

// The search page, all of it served by the server: one HTML page, its script and its style,
// no outside asset. The page searches as the reader types (through /api/search), marks each
// hit from the offsets the API gives (inserted as text, never as markup), moves through the
// results with Up and Down and opens one with Enter, and keeps the query in its address
// (/?q=...). Without scripts, its form asks the server for the same page with the results
// composed in it. Its texts are the program's replaceable texts in use: the prompt, the
// Search button, and the status texts of the window after a search. It follows the reader's
// light or dark preference.

#include <cstddef>
#include <string>
#include <string_view>

#include "server/search_service.h"

namespace kb::server {

// The page for `phrase` (empty: none yet): with `findings`, the found articles from `offset`
// on, at most `limit`, and a link to the next ones; with a `refusal`, why the phrase cannot be
// searched for.
std::string SearchPageHtml(std::string_view phrase, const Findings* findings,
                           std::string_view refusal = {}, std::size_t offset = 0,
                           std::size_t limit = 20);

std::string_view SearchPageScript();
std::string_view SearchPageStyle();

}  // namespace kb::server
