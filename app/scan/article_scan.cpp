#include "app/scan/article_scan.h"

#include <algorithm>
#include <utility>

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

void KeptArticle::Add(std::string_view piece, bool whole) {
  if (whole) {
    bytes_ = piece;
    return;
  }
  if (dropped_) return;
  const std::size_t wanted = std::min(most_, copy_.size() + piece.size());
  if (wanted > taken_) {
    // The size the open found, or (for an article that grew since) doubled as a string's
    // capacity would be; paid for before it is taken.
    const std::size_t capacity = std::min(most_, std::max({wanted, expected_, 2 * taken_}));
    if (!budget_.Take(capacity - taken_)) {
      Release();
      dropped_ = true;
      return;
    }
    taken_ = capacity;
    copy_.reserve(capacity);
  }
  copy_.append(piece.substr(0, wanted - copy_.size()));
  bytes_ = copy_;
}

std::optional<std::string_view> KeptArticle::bytes() const {
  if (dropped_) return std::nullopt;
  return bytes_;
}

void KeptArticle::Release() {
  std::string().swap(copy_);
  budget_.Give(std::exchange(taken_, 0));
  bytes_ = {};
}

FileDeclaration ArticleFileDeclaration() {
  return {.record_length = kBlockSize,
          .options = "/FILEBUFFERS=128",
          .may_create = false,
          .name_length = kLongestArticlePath,
          .path_limit = kLongestArticlePath + 1};
}

ArticleOutcome ScanArticle(std::string_view path, BlockFile& file, ArticleMatcher& matcher,
                           const ArticleSharing& sharing, const std::stop_token& stop,
                           const MatchInspection& inspect, KeptArticle* kept) {
  ArticleOutcome outcome;
  file.name().Assign(path);
  file.Open(access_mode::kRead | access_mode::kDenyWrite);
  if (const int32_t refused = ErrorCode()) {
    outcome.failure = {ArticleOutcome::Failure::kOpen, refused};
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
    }
    fed += blocks.size();
  }
  if (!shared_out) {
    matcher.FinishArticle();
    outcome.matched = matcher.is_result();
    if (outcome.matched) {
      outcome.excerpt = matcher.excerpt();
      if (matcher.counts_hits()) outcome.hits = matcher.hits();
    }
  }
  if (outcome.matched && inspect && !stop.stop_requested()) {
    const bool kept_all = kept != nullptr && outcome.failure.kind == ArticleOutcome::Failure::kNone;
    outcome.collected = inspect(
        {.path = path, .outcome = outcome, .bytes = kept_all ? kept->bytes() : std::nullopt});
  }
  if (kept != nullptr) kept->Release();
  file.Close();
  return outcome;
}

}  // namespace kb
