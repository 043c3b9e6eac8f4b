#include "server/kept_listing.h"

#include <vector>

#include "app/scan/scan.h"
#include "files/tree_listing.h"

namespace kb::server {
namespace {

bool SameFolder(const platform::ExactStatus& one, const platform::ExactStatus& other) {
  return one.device_major == other.device_major && one.device_minor == other.device_minor &&
         one.inode == other.inode;
}

// Counts the failures, and passes them on to `reporter` when there is one.
class CountingReporter final : public FailureReporter {
 public:
  explicit CountingReporter(FailureReporter* reporter) : reporter_(reporter) {}
  void ReportFailure(const Failure& failure) override {
    ++count;
    if (reporter_ != nullptr) reporter_->ReportFailure(failure);
  }
  int count = 0;

 private:
  FailureReporter* reporter_;
};

// Whether `path` is itself of `type`, not a symbolic link.
bool IsOwn(platform::Env& env, std::string_view path, platform::FileType type) {
  platform::FileStatus status;
  return env.PathStatus(path, /*follow_links=*/false, status) == platform::system_error::kNone &&
         status.type == type;
}

}  // namespace

void KeptListing::TakeNews() {
  if (watch_ == nullptr) return;
  platform::ExactStatus folder;
  const bool known = platform::StatusOfPath(folder_path_, folder);
  const platform::FolderWatch::Changes changes = watch_->Take();
  if (!known || !SameFolder(folder, folder_) || changes.everything) {
    watch_.reset();
    kept_.reset();
  } else if (!changes.names.empty()) {
    kept_.reset();
  }
}

bool KeptListing::List(platform::Env& env, const KnowledgeBase& base, ListedPaths& paths,
                       FailureReporter& reporter) {
  std::optional<uint64_t> generation;
  return List(env, base, paths, reporter, generation);
}

bool KeptListing::List(platform::Env& env, const KnowledgeBase& base, ListedPaths& paths,
                       FailureReporter& reporter, std::optional<uint64_t>& generation) {
  const std::lock_guard lock(mutex_);
  generation.reset();
  TakeNews();
  if (kept_) {
    paths = *kept_;
    generation = generation_;
    return true;
  }
  if (!base.ListsArticleFolder()) {
    const bool listed = ListAndKeepTree(env, base, paths, reporter);
    if (kept_) generation = generation_;
    return listed;
  }
  // The watch comes first: a change made while the folder is listed is then reported.
  platform::ExactStatus folder;
  const bool known = platform::StatusOfPath(kArticleFolder, folder);
  if (watch_ == nullptr && known && !platform::FileSystemOfPath(kArticleFolder).remote) {
    watch_ = platform::FolderWatch::Open(kArticleFolder);
    folder_path_ = kArticleFolder;
    folder_ = folder;
  }
  CountingReporter counting(&reporter);
  const bool listed = ListArticles(env, base, paths, counting);
  if (listed && counting.count == 0 && watch_ != nullptr) {
    kept_ = paths;
    generation = ++generation_;
  }
  return listed;
}

bool KeptListing::ListAndKeepTree(platform::Env& env, const KnowledgeBase& base, ListedPaths& paths,
                                  FailureReporter& reporter) {
  watch_.reset();
  std::vector<std::string> walked;
  CountingReporter counting(&reporter);
  const bool listed = ListArticles(env, base, paths, counting, &walked);
  if (!listed || counting.count > 0 || walked.size() > platform::FolderWatch::kMostFolders)
    return listed;
  // Each folder is watched before the one beneath it is checked to be no link; a folder on
  // a network file system (a mount in the tree) changes unseen.
  std::unique_ptr<platform::FolderWatch> watch = platform::FolderWatch::OpenEmpty();
  for (std::size_t at = 0; watch != nullptr && at < walked.size(); ++at) {
    const std::string path = WalkedFolderPath(walked[at]);
    const platform::FileSystemOf system = platform::FileSystemOfPath(path);
    if ((at > 0 && !IsOwn(env, path, platform::FileType::kDirectory)) || !system.known ||
        system.remote || !watch->Add(path, walked[at])) {
      watch.reset();
    }
  }
  if (watch == nullptr) return listed;
  // Listed again now that the watches are set: the listing kept is the one they prove. What
  // this listing would report is left unsaid: the first one, given then, had nothing to say.
  ListedPaths again;
  std::vector<std::string> walked_again;
  CountingReporter quiet(nullptr);
  if (!ListArticles(env, base, again, quiet, &walked_again) || quiet.count > 0 ||
      walked_again != walked) {
    return listed;
  }
  for (std::size_t index = 0; index < again.size(); ++index) {
    if (!IsOwn(env, again[index], platform::FileType::kRegular)) return listed;
  }
  watch_ = std::move(watch);
  folder_path_ = ".";
  platform::StatusOfPath(folder_path_, folder_);
  paths = again;
  kept_ = std::move(again);
  ++generation_;
  return listed;
}

std::optional<uint64_t> KeptListing::Proven() {
  const std::lock_guard lock(mutex_);
  TakeNews();
  if (!kept_) return std::nullopt;
  if (looked_through_ != generation_) {
    looked_through_ = generation_;
    const std::unique_ptr<platform::StatusFolder> articles =
        platform::StatusFolder::Open(folder_path_);
    watched_alone_ = articles != nullptr;
    for (std::size_t index = 0; watched_alone_ && index < kept_->size(); ++index) {
      watched_alone_ = articles->HasThisNameAlone(kept_->name(index));
    }
  }
  if (!watched_alone_) return std::nullopt;
  return generation_;
}

}  // namespace kb::server
