#pragma once

// A scan's source of knowledge about articles it need not read: once the articles are
// listed, and before any is read, the scan asks the filter which of them it must read. An
// article it is told not to read counts as one that was opened and holds no match, exactly
// as if it had been read so: the same progress, no result, no message.
//
// Before the articles are listed, the scan tells the filter what it will be asked about, so
// that the filter may start meanwhile the work that needs no listing (the listing of a large
// folder takes a while); ChooseArticles follows unless no article is listed.

#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

#include "app/base/query.h"
#include "app/match/match_settings.h"

namespace kb {

class ArticleFilter {
 public:
  virtual ~ArticleFilter() = default;

  // Called before the articles are listed, with the query and settings ChooseArticles will
  // be given. By default nothing is done.
  virtual void Prepare(const Query& /*query*/, const MatchSettings& /*settings*/) {}

  // `names`: the listed articles' names in the article folder, in listing order; `query` as
  // the search looks for it. `must_read` comes with one entry per name, each true; the filter sets
  // false those whose outcome it knows without a doubt to be "opened, no match". It may use
  // up to `threads` threads, the calling one included.
  virtual void ChooseArticles(std::span<const std::string_view> names, const Query& query,
                              const MatchSettings& settings, std::size_t threads,
                              std::vector<char>& must_read) = 0;
};

}  // namespace kb
