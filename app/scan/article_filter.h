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

// Where in some of the articles to read the phrase of a query of one phrase can lie: every
// occurrence of the phrase, as the plain byte search looks for it (QueryMatcher::byte_phrase),
// lies whole within one of the article's ranges. An article not named may hold it anywhere.
class PlacesToLook {
 public:
  // Names the article at `place` of the listing, after those named so far, with its ranges
  // (ascending and apart).
  void Add(std::size_t place, std::vector<ByteRange> ranges) {
    places_.push_back(place);
    ranges_.push_back(std::move(ranges));
  }
  // The ranges of the article at `place`; empty when it may hold the phrase anywhere.
  std::span<const ByteRange> Of(std::size_t place) const {
    const auto found = std::lower_bound(places_.begin(), places_.end(), place);
    if (found == places_.end() || *found != place) return {};
    return ranges_[static_cast<std::size_t>(found - places_.begin())];
  }
  void Clear() {
    places_.clear();
    ranges_.clear();
  }
  bool empty() const { return places_.empty(); }

 private:
  std::vector<std::size_t> places_;  // ascending
  std::vector<std::vector<ByteRange>> ranges_;
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
  // up to `threads` threads, the calling one included. For a query of one phrase it may also
  // name, in `places` (which comes empty), where in some of the articles to read the phrase
  // can lie, so that the scan reads an article whole only once it finds the phrase there.
  virtual void ChooseArticles(std::span<const std::string_view> names, const Query& query,
                              const MatchSettings& settings, std::size_t threads,
                              std::vector<char>& must_read, PlacesToLook& places) = 0;
};

}  // namespace kb
