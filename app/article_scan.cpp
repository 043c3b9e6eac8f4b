#include "app/article_scan.h"

#include "files/access_mode.h"

namespace kb {
namespace {

void KeepError(ArticleOutcome::Failure failure, ArticleOutcome& outcome) {
  outcome.failure = failure;
  outcome.error_code = ErrorCode();
  outcome.error_text.Assign(ErrorText());
}

}  // namespace

FileDeclaration ArticleFileDeclaration() {
  return {.record_length = kBlockSize,
          .options = "/FILEBUFFERS=128",
          .may_create = false,
          .name_length = kLongestArticlePath,
          .path_limit = kLongestArticlePath + 1};
}

ArticleOutcome ScanArticle(std::string_view path, BlockFile& file, ArticleMatcher& matcher,
                           std::stop_token stop) {
  ArticleOutcome outcome;
  file.name().Assign(path);
  file.Open(access_mode::kRead | access_mode::kDenyWrite);
  if (ErrorCode() != 0) {
    KeepError(ArticleOutcome::Failure::kOpen, outcome);
    return outcome;
  }

  file.Set();
  matcher.StartArticle();
  while (!matcher.settled() && !stop.stop_requested()) {
    file.Next();
    if (ErrorCode() == error::kRecordNotAvailable) break;  // the end of the article
    if (ErrorCode() != 0) {
      KeepError(ArticleOutcome::Failure::kRead, outcome);
      break;
    }
    matcher.Feed(std::string_view(file.block().data(), file.last_count()));
  }
  matcher.FinishArticle();
  file.Close();

  outcome.matched = matcher.is_result();
  if (outcome.matched) outcome.excerpt = matcher.excerpt();
  return outcome;
}

}  // namespace kb
