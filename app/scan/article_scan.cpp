#include "app/scan/article_scan.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/match/phrase_finder.h"
#include "files/access_mode.h"
#include "files/file_declaration.h"

namespace kb {

bool KeptBudget::Take(std::size_t bytes) {
  std::size_t taken = taken_.load();
  do {
    if (bytes > bytes_ - taken) return false;
  } while (!taken_.compare_exchange_weak(taken, taken + bytes));
  std::size_t most = most_taken_.load();
  while (taken + bytes > most && !most_taken_.compare_exchange_weak(most, taken + bytes)) {
  }
  return true;
}

void KeptBudget::Give(std::size_t bytes) {
  taken_ -= bytes;
}

void KeptArticle::Start(uint64_t size) {
  Release();
  dropped_ = false;
  expected_ = static_cast<std::size_t>(std::min<uint64_t>(size, most_));
}

bool KeptArticle::Reserve(std::size_t size) {
  if (size <= taken_) return true;
  // The size the open found, or (for an article that grew since) doubled as a string's
  // capacity would be; paid for before it is taken.
  const std::size_t room = std::min(most_, std::max({size, expected_, 2 * taken_}));
  if (!budget_.Take(room - taken_)) {
    Release();
    dropped_ = true;
    return false;
  }
  auto grown = std::make_unique_for_overwrite<char[]>(room);
  if (size_ > 0) std::memcpy(grown.get(), copy_.get(), size_);
  copy_ = std::move(grown);
  taken_ = room;
  return true;
}

void KeptArticle::Add(std::string_view piece, bool whole) {
  if (whole) {
    bytes_ = piece;
    return;
  }
  const std::span<char> room = Room(piece.size());
  if (!room.empty()) std::memcpy(room.data(), piece.data(), room.size());
  Added(room.size());
}

std::span<char> KeptArticle::Room(std::size_t count) {
  if (dropped_) return {};
  const std::size_t size = std::min(most_, size_ + count);
  if (!Reserve(size)) return {};
  return {copy_.get() + size_, size - size_};
}

void KeptArticle::Added(std::size_t count) {
  if (dropped_) return;
  size_ += count;
  bytes_ = {copy_.get(), size_};
}

std::optional<std::string_view> KeptArticle::bytes() const {
  if (dropped_) return std::nullopt;
  return bytes_;
}

void KeptArticle::Release() {
  copy_.reset();
  size_ = 0;
  budget_.Give(std::exchange(taken_, 0));
  bytes_ = {};
}

FileDeclaration ArticleFileDeclaration(std::size_t longest_path) {
  return {.record_length = kBlockSize,
          .options = "/FILEBUFFERS=128",
          .may_create = false,
          .name_length = longest_path,
          .path_limit = longest_path + 1};
}

namespace {

// How much of an article's rest one read takes in straight into its kept copy.
constexpr std::size_t kRestRead = 1 << 20;

// Reads the rest of an article, from `from` to the size its open found, straight into its
// kept copy, in reads of kRestRead bytes, and feeds it to `matcher`: the bytes pass through
// no buffer. Stops, as reading through the buffer does, at a failed read (which `outcome`
// tells), at the end of an article that shrank and when `stop` is asked. False, reading
// nothing, when the copy cannot take the rest whole: then the rest is read as before.
bool ReadRestIntoCopy(const BlockFile& file, uint64_t from, QueryMatcher& matcher,
                      KeptArticle& kept, const std::stop_token& stop, ArticleOutcome& outcome) {
  if (file.size() > kept.most()) return false;
  const auto rest = static_cast<std::size_t>(file.size() - from);
  const std::span<char> room = kept.Room(rest);
  if (room.size() < rest) return false;
  for (std::size_t at = 0; at < rest && !stop.stop_requested();) {
    const std::size_t wanted = std::min(kRestRead, rest - at);
    std::size_t count = 0;
    if (const platform::SystemError error =
            file.ReadAt(from + at, room.subspan(at, wanted), count)) {
      outcome.failure = {ArticleOutcome::Failure::kRead, TransferErrorNumber(error)};
      break;
    }
    matcher.Feed(std::string_view(room.data() + at, count));
    kept.Added(count);
    at += count;
    if (count < wanted) break;
  }
  return true;
}

// Whether the article open in `file` may hold every term of `may_hold` (each as `sought` has
// it, the plain byte search's), every occurrence of which lies whole in one of its ranges:
// false only when the bytes of a term's ranges, read apart, do not hold it. The terms with the
// fewest bytes to read are looked at first, and only as many as half the article's bytes
// allow: a rare term is looked for where it may lie even when a common one may lie anywhere.
// True when the file opened is not the one they speak of (replaced since), and when one
// cannot be read, so that reading the article whole decides and tells.
bool MayHoldTerms(const BlockFile& file, std::span<const std::string_view> sought,
                  const ArticlePlaces& may_hold) {
  const uint64_t size = file.size();
  platform::FileStatus status;
  if (file.Status(status) || status.inode != may_hold.inode || status.size != may_hold.size ||
      size != may_hold.size) {
    return true;
  }
  std::vector<std::pair<uint64_t, const TermPlaces*>> by_bytes;
  for (const TermPlaces& term : may_hold.terms) {
    if (term.term >= sought.size()) return true;
    uint64_t within = 0;
    for (const ByteRange& range : term.ranges) {
      if (range.start < size) within += std::min(range.end, size) - range.start;
    }
    by_bytes.emplace_back(within, &term);
  }
  std::stable_sort(by_bytes.begin(), by_bytes.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  uint64_t read = 0;
  std::string bytes;
  for (const auto& [within, term] : by_bytes) {
    read += within;
    if (read * 2 >= size) break;
    const PhraseFinder finder(sought[term->term], PhraseFinder::Case::kFolded);
    bool found = false;
    for (const ByteRange& range : term->ranges) {
      if (found || range.start >= size) break;
      bytes.resize(static_cast<std::size_t>(std::min(range.end, size) - range.start));
      std::size_t count = 0;
      if (file.ReadAt(range.start, bytes, count)) return true;
      found = finder.Find(std::string_view(bytes.data(), count)) != PhraseFinder::npos;
    }
    if (!found) return false;
  }
  return true;
}

}  // namespace

ArticleOutcome ScanArticle(std::string_view path, BlockFile& file, QueryMatcher& matcher,
                           const ArticleSharing& sharing, const std::stop_token& stop,
                           const MatchInspection& inspect, KeptArticle* kept,
                           const ArticlePlaces* may_hold) {
  ArticleOutcome outcome;
  file.name().Assign(path);
  file.Open(access_mode::kRead | access_mode::kDenyWrite);
  if (const int32_t refused = ErrorCode()) {
    outcome.failure = {ArticleOutcome::Failure::kOpen, refused};
    return outcome;
  }
  if (may_hold != nullptr && !MayHoldTerms(file, matcher.byte_terms(), *may_hold)) {
    file.Close();
    return outcome;
  }

  file.Set();
  matcher.StartArticle();
  if (kept != nullptr) kept->Start(file.size());
  bool share = !matcher.counts_hits() && ShouldShare(file, matcher, sharing);
  bool shared_out = false;
  uint64_t fed = 0;
  // The blocks of each read are fed at once: the matcher does the same with any cutting.
  while (!matcher.settled() && !stop.stop_requested()) {
    const std::string_view blocks = file.NextBlocks();
    const int32_t read_error = ErrorCode();
    if (read_error == error::kRecordNotAvailable) break;  // the end of the article
    if (read_error != 0) {
      outcome.failure = {ArticleOutcome::Failure::kRead, read_error};
      break;
    }
    // With the first read in hand, the rest of a large article is read on several threads.
    SharedScanOutcome shared;
    if (std::exchange(share, false) &&
        ScanSharedArticle(file, blocks, matcher, sharing, stop, shared)) {
      if (shared.read_failed) {
        outcome.failure = {ArticleOutcome::Failure::kRead, TransferErrorNumber(shared.error)};
      }
      outcome.matched = shared.matched;
      outcome.excerpt = std::move(shared.excerpt);
      shared_out = true;
      break;
    }
    matcher.Feed(blocks);
    if (kept != nullptr) {
      const bool whole = fed == 0 && blocks.size() == file.size();
      kept->Add(blocks, whole);
      // No read goes past the size the open saw: the next would only find the end, and would
      // take the kept bytes' view away.
      if (whole) break;
      // After a first read that took part of the article, its rest goes straight into the copy.
      if (fed == 0 && ReadRestIntoCopy(file, blocks.size(), matcher, *kept, stop, outcome)) break;
    }
    fed += blocks.size();
  }
  if (!shared_out) {
    matcher.FinishArticle();
    outcome.matched = matcher.is_result();
    if (outcome.matched) {
      outcome.excerpt = matcher.excerpt();
      if (matcher.counts_hits()) {
        outcome.hits = matcher.hits();
        outcome.term_hits.assign(matcher.term_hits().begin(), matcher.term_hits().end());
        outcome.length = matcher.length();
      }
    }
  }
  if (outcome.matched && inspect && !stop.stop_requested()) {
    const bool kept_all = kept != nullptr && outcome.failure.kind == ArticleOutcome::Failure::kNone;
    outcome.details = inspect({.path = path,
                               .outcome = outcome,
                               .bytes = kept_all ? kept->bytes() : std::nullopt,
                               .hit_starts = matcher.hit_starts()});
  }
  if (kept != nullptr) kept->Release();
  file.Close();
  return outcome;
}

}  // namespace kb
