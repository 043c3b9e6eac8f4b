#pragma once

// A scan's source of knowledge about articles it need not read: once the articles are
// listed, and before any is read, the scan asks the filter which of them it must read. An
// article it is told not to read counts as one that was opened and holds no match, exactly
// as if it had been read so: the same progress, no result, no message.
//
// Before the articles are listed, the scan tells the filter what it will be asked about, so
// that the filter may start meanwhile the work that needs no listing (the listing of a large
// folder takes a while); ChooseArticles follows unless no article is listed.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "app/base/query.h"
#include "app/match/match_settings.h"

namespace kb {

// Bytes `start` to `end` (excluded) of an article; `end` may lie past its size.
struct ByteRange {
  uint64_t start = 0;
  uint64_t end = 0;
  bool operator==(const ByteRange&) const = default;
};

// Where one term of a query can lie in an article: every occurrence of the term (the phrase,
// or a required term of words) as the plain byte search looks for it (QueryMatcher::
// byte_terms) lies whole within one of `ranges` (ascending and apart).
struct TermPlaces {
  std::size_t term = 0;  // its place among the query's terms; 0 for a phrase
  std::vector<ByteRange> ranges;
  bool operator==(const TermPlaces&) const = default;
};

// Where the terms of a query can lie in one article, as the filter knows it: of the file
// with this inode and size.
struct ArticlePlaces {
  uint64_t inode = 0;
  uint64_t size = 0;
  std::vector<TermPlaces> terms;
  bool operator==(const ArticlePlaces&) const = default;
};

// Where in some of the articles to read the terms of a query can lie. An article not named may
// hold them anywhere.
class PlacesToLook {
 public:
  // Names the article at `place` of the listing, after those named so far.
  void Add(std::size_t place, ArticlePlaces places) {
    places_.push_back(place);
    articles_.push_back(std::move(places));
  }
  // Where terms of the article at `place` can lie; none when they may lie anywhere.
  const ArticlePlaces* Of(std::size_t place) const {
    const auto found = std::lower_bound(places_.begin(), places_.end(), place);
    if (found == places_.end() || *found != place) return nullptr;
    return &articles_[static_cast<std::size_t>(found - places_.begin())];
  }
  void Clear() {
    places_.clear();
    articles_.clear();
  }

 private:
  std::vector<std::size_t> places_;  // ascending
  std::vector<ArticlePlaces> articles_;
};

class ArticleFilter {
 public:
  virtual ~ArticleFilter() = default;

  // Called before the articles are listed, with the query and settings ChooseArticles will
  // be given. By default nothing is done.
  virtual void Prepare(const Query& /*query*/, const MatchSettings& /*settings*/) {}

  // `names`: the listed articles' names in the article folder, in listing order; `query` as
  // the search looks for it. `must_read` comes with one entry per name, each true; the filter sets
  // false those whose outcome it knows without a doubt to be "opened, no match". It may use
  // up to `threads` threads, the calling one included. It may also name, in `places` (which
  // comes empty), where in some of the articles to read the query's terms can lie, so that
  // the scan reads such an article whole only once it finds each of them there.
  virtual void ChooseArticles(std::span<const std::string_view> names, const Query& query,
                              const MatchSettings& settings, std::size_t threads,
                              std::vector<char>& must_read, PlacesToLook& places) = 0;
};

}  // namespace kb
