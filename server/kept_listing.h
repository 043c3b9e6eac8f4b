#pragma once

// The listing of the articles kept between searches while the folder is proven unchanged: a
// watch on ZEB (set before the listing it proves) that reports nothing since, and ZEB still
// the same folder (the same device and inode, so that a ZEB replaced, or a link retargeted,
// is listed afresh). Any event in ZEB, lost events, or a listing that failed, and the next
// search lists the folder again. Searching a folder of 40,000 articles, listing it is most of
// the time a search takes when the index spares nearly every read.

#include <memory>
#include <mutex>
#include <optional>

#include "app/scan/article_listing.h"
#include "platform/file_identity.h"

namespace kb::server {

class KeptListing final : public ArticleListing {
 public:
  bool List(platform::Env& env, ListedPaths& paths) override;

 private:
  std::mutex mutex_;
  std::unique_ptr<platform::FolderWatch> watch_;
  platform::ExactStatus folder_;  // ZEB when the watch was set
  std::optional<ListedPaths> kept_;
};

}  // namespace kb::server
