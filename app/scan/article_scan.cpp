#include "app/scan/article_scan.h"

#include <utility>

#include "files/access_mode.h"
#include "files/file_declaration.h"

namespace kb {

FileDeclaration ArticleFileDeclaration() {
  return {.record_length = kBlockSize,
          .options = "/FILEBUFFERS=128",
          .may_create = false,
          .name_length = kLongestArticlePath,
          .path_limit = kLongestArticlePath + 1};
}

ArticleOutcome ScanArticle(std::string_view path, BlockFile& file, ArticleMatcher& matcher,
                           const ArticleSharing& sharing, const std::stop_token& stop) {
  ArticleOutcome outcome;
  file.name().Assign(path);
  file.Open(access_mode::kRead | access_mode::kDenyWrite);
  if (const int32_t refused = ErrorCode()) {
    outcome.failure = {ArticleOutcome::Failure::kOpen, refused};
    return outcome;
  }

  file.Set();
  matcher.StartArticle();
  bool share = ShouldShare(file, matcher, sharing);
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
      file.Close();
      outcome.matched = shared.matched;
      outcome.excerpt = std::move(shared.excerpt);
      return outcome;
    }
    matcher.Feed(blocks);
  }
  matcher.FinishArticle();
  file.Close();

  outcome.matched = matcher.is_result();
  if (outcome.matched) outcome.excerpt = matcher.excerpt();
  return outcome;
}

}  // namespace kb
