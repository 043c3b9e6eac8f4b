#pragma once

// What kbsearch-cli --json prints: one JSON object per line, each {"type": ..., "data": {...}},
// its data one of the objects of app/search/search_json.h: a "match" per found article, an
// "error" per failure, and a "summary" at the end. Every line is valid UTF-8, holds no raw
// byte below 0x20, and ends with one "\n".

#include <cstdint>
#include <string>
#include <string_view>

#include "app/match/article_snippets.h"
#include "app/search/search_json.h"

namespace kb::cli {

using kb::Base64;
using kb::JsonData;
using kb::JsonString;
using kb::SearchSummary;

// A found article (JsonMatchData).
std::string JsonMatchLine(std::string_view path, std::string_view excerpt,
                          std::string_view page_excerpt, const ArticleSnippets* snippets = nullptr,
                          bool words = false);

// A reported failure (JsonErrorData).
std::string JsonErrorLine(std::string_view message, int64_t code, std::string_view path);

// The line that ends the output (JsonSummaryData).
std::string JsonSummaryLine(const SearchSummary& summary);

}  // namespace kb::cli
