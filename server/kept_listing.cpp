#include "server/kept_listing.h"

#include "app/base/knowledge_base.h"

namespace kb::server {
namespace {

bool SameFolder(const platform::ExactStatus& one, const platform::ExactStatus& other) {
  return one.device_major == other.device_major && one.device_minor == other.device_minor &&
         one.inode == other.inode;
}

}  // namespace

bool KeptListing::List(platform::Env& env, ListedPaths& paths) {
  const std::lock_guard lock(mutex_);
  platform::ExactStatus folder;
  const bool known = platform::StatusOfPath(kArticleFolder, folder);
  if (watch_ != nullptr) {
    const platform::FolderWatch::Changes changes = watch_->Take();
    if (!known || !SameFolder(folder, folder_) || changes.everything) {
      watch_.reset();
      kept_.reset();
    } else if (!changes.names.empty()) {
      kept_.reset();
    }
  }
  if (kept_) {
    paths = *kept_;
    return true;
  }
  // The watch comes first: a change made while the folder is listed is then reported.
  if (watch_ == nullptr && known) {
    watch_ = platform::FolderWatch::Open(kArticleFolder);
    folder_ = folder;
  }
  const bool listed = ListPaths(paths, kArticlePattern, kArticlePathPrefix, 0, env);
  if (listed && watch_ != nullptr) kept_ = paths;
  return listed;
}

}  // namespace kb::server
