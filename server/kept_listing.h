#pragma once

// The listing of the articles kept between searches while the knowledge base is proven
// unchanged: a watch (set before the listing it proves) that reports nothing since, on ZEB,
// or on every folder a tree's listing walked. ZEB must still be the same folder (the same
// device and inode, so that a ZEB replaced, or a link retargeted, is listed afresh). Any event
// in a watched folder, lost events, or a listing that failed, and the next search lists the
// knowledge base again. Searching a folder of 40,000 articles, listing it is most of the time
// a search takes when the index spares nearly every read. On a network file system the watch
// sees none of the other machines' changes: there the articles are listed every time.
//
// A tree's listing is kept only when it met no problem, when its folders are few enough to
// watch, and when neither a folder it walked nor an article it listed is a symbolic link (where
// a link leads can change with no event in a watched folder). Its first keeping lists the tree
// twice: once to learn the folders to watch, and once after the watches are set.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "app/scan/article_listing.h"
#include "platform/file_identity.h"

namespace kb::server {

class KeptListing final : public ArticleListing {
 public:
  bool List(platform::Env& env, const KnowledgeBase& base, ListedPaths& paths,
            FailureReporter& reporter) override;
  // As List; `generation` that of the listing given when it is kept, nothing otherwise.
  bool List(platform::Env& env, const KnowledgeBase& base, ListedPaths& paths,
            FailureReporter& reporter, std::optional<uint64_t>& generation);

  // After the watch's news: the generation of the listing kept now, which is another one
  // after anything in the watched folders may have changed, so that what was found in the
  // same generation still holds. Nothing when no listing is kept, or when an article could
  // change without the watch seeing it: one that is a symbolic link or has other hard links
  // (each listing kept is looked through once, when first asked).
  std::optional<uint64_t> Proven();

 private:
  // Takes the watch's news; forgets the listing kept when anything changed.
  void TakeNews();
  // Lists the tree of `base`, and keeps the listing when it may.
  bool ListAndKeepTree(platform::Env& env, const KnowledgeBase& base, ListedPaths& paths,
                       FailureReporter& reporter);

  std::mutex mutex_;
  std::unique_ptr<platform::FolderWatch> watch_;
  // The folder the articles are listed from, "./ZEB" or the tree's ".", and its status when
  // the watch was set.
  std::string folder_path_;
  platform::ExactStatus folder_;
  std::optional<ListedPaths> kept_;
  uint64_t generation_ = 0;      // of kept_: one more at each listing kept
  uint64_t looked_through_ = 0;  // the last generation whose articles were looked at
  bool watched_alone_ = false;   // whether its articles all change through ZEB alone
};

}  // namespace kb::server
