#pragma once

// The search page, all of it served by the server: one HTML page, its script and its style,
// no outside asset. The page searches as the reader types (through /api/search), marks each
// hit from the offsets the API gives (inserted as text, never as markup), moves through the
// results with Up and Down and opens one with Enter (at its first snippet's passage), and
// keeps the query and its choices in its address (/?q=...&query=...&order=...), from which
// it is restored on load. Without scripts, its form asks the server for the same page with
// the results composed in it. Each result's title links to its article under /kb/, each
// snippet to the article opened at its passage. Its texts are the program's replaceable
// texts in use: the prompt, the Search button, the choices of how the text is read and of
// the order, and the status texts of the window after a search. It follows the reader's
// light or dark preference.

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "app/base/query.h"
#include "app/base/results_settings.h"
#include "server/search_service.h"

namespace kb::server {

// How the page's text is read and its results ordered: the request's choice, else the
// settings'.
struct PageChoices {
  QueryKind kind = QueryKind::kPhrase;
  ResultsOrder order = ResultsOrder::kName;
};

// The names the address and the API give the choices: "words", "phrase"; "name", "hits",
// "relevance".
std::string_view QueryKindName(QueryKind kind);
std::string_view OrderName(ResultsOrder order);

// The page for `phrase` (empty: none yet) with `choices` chosen: with `findings`, the found
// articles of `shown`, those from `offset` on (SearchService::ShownPage), and a link to the
// next ones; with a `refusal`, why the phrase cannot be searched for.
std::string SearchPageHtml(std::string_view phrase, PageChoices choices, const Findings* findings,
                           std::string_view refusal = {}, std::size_t offset = 0,
                           std::span<const FoundArticle> shown = {});

std::string_view SearchPageScript();
std::string_view SearchPageStyle();

}  // namespace kb::server
