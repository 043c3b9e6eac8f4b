#pragma once

// The listing of the articles kept between searches while the folder is proven unchanged: a
// watch on ZEB (set before the listing it proves) that reports nothing since, and ZEB still
// the same folder (the same device and inode, so that a ZEB replaced, or a link retargeted,
// is listed afresh). Any event in ZEB, lost events, or a listing that failed, and the next
// search lists the folder again. Searching a folder of 40,000 articles, listing it is most of
// the time a search takes when the index spares nearly every read. On a network file system
// the watch sees none of the other machines' changes: there the folder is listed every time.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

#include "app/scan/article_listing.h"
#include "platform/file_identity.h"

namespace kb::server {

class KeptListing final : public ArticleListing {
 public:
  bool List(platform::Env& env, ListedPaths& paths) override;
  // As List; `generation` that of the listing given when it is kept, nothing otherwise.
  bool List(platform::Env& env, ListedPaths& paths, std::optional<uint64_t>& generation);

  // After the watch's news: the generation of the listing kept now, which is another one
  // after anything in ZEB may have changed, so that what was found in the same generation
  // still holds. Nothing when no listing is kept, or when an article could change without
  // the watch seeing it: one that is a symbolic link or has other hard links (each listing
  // kept is looked through once, when first asked).
  std::optional<uint64_t> Proven();

 private:
  // Takes the watch's news; forgets the listing kept when anything changed.
  void TakeNews(bool known, const platform::ExactStatus& folder);

  std::mutex mutex_;
  std::unique_ptr<platform::FolderWatch> watch_;
  platform::ExactStatus folder_;  // ZEB when the watch was set
  std::optional<ListedPaths> kept_;
  uint64_t generation_ = 0;      // of kept_: one more at each listing kept
  uint64_t looked_through_ = 0;  // the last generation whose articles were looked at
  bool watched_alone_ = false;   // whether its articles all change through ZEB alone
};

}  // namespace kb::server
