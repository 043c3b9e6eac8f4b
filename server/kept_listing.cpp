#include "server/kept_listing.h"

#include "app/base/knowledge_base.h"

namespace kb::server {
namespace {

bool SameFolder(const platform::ExactStatus& one, const platform::ExactStatus& other) {
  return one.device_major == other.device_major && one.device_minor == other.device_minor &&
         one.inode == other.inode;
}

}  // namespace

void KeptListing::TakeNews(bool known, const platform::ExactStatus& folder) {
  if (watch_ != nullptr) {
    const platform::FolderWatch::Changes changes = watch_->Take();
    if (!known || !SameFolder(folder, folder_) || changes.everything) {
      watch_.reset();
      kept_.reset();
    } else if (!changes.names.empty()) {
      kept_.reset();
    }
  }
}

bool KeptListing::List(platform::Env& env, ListedPaths& paths) {
  std::optional<uint64_t> generation;
  return List(env, paths, generation);
}

bool KeptListing::List(platform::Env& env, ListedPaths& paths,
                       std::optional<uint64_t>& generation) {
  const std::lock_guard lock(mutex_);
  generation.reset();
  platform::ExactStatus folder;
  const bool known = platform::StatusOfPath(kArticleFolder, folder);
  TakeNews(known, folder);
  if (kept_) {
    paths = *kept_;
    generation = generation_;
    return true;
  }
  // The watch comes first: a change made while the folder is listed is then reported.
  if (watch_ == nullptr && known && !platform::FileSystemOfPath(kArticleFolder).remote) {
    watch_ = platform::FolderWatch::Open(kArticleFolder);
    folder_ = folder;
  }
  const bool listed = ListPaths(paths, kArticlePattern, kArticlePathPrefix, 0, env);
  if (listed && watch_ != nullptr) {
    kept_ = paths;
    generation = ++generation_;
  }
  return listed;
}

std::optional<uint64_t> KeptListing::Proven() {
  const std::lock_guard lock(mutex_);
  platform::ExactStatus folder;
  TakeNews(platform::StatusOfPath(kArticleFolder, folder), folder);
  if (!kept_) return std::nullopt;
  if (looked_through_ != generation_) {
    looked_through_ = generation_;
    const std::unique_ptr<platform::StatusFolder> articles =
        platform::StatusFolder::Open(kArticleFolder);
    watched_alone_ = articles != nullptr;
    for (std::size_t index = 0; watched_alone_ && index < kept_->size(); ++index) {
      watched_alone_ = articles->HasThisNameAlone(kept_->name(index));
    }
  }
  if (!watched_alone_) return std::nullopt;
  return generation_;
}

}  // namespace kb::server
