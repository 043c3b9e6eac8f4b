#include "app/base/knowledge_base.h"

#include <string_view>

namespace kb {
namespace {

// Whether `path` names something (through links) of `type`.
bool Holds(platform::Env& env, std::string_view path, platform::FileType type) {
  platform::FileStatus status;
  return env.PathStatus(path, /*follow_links=*/true, status) == platform::system_error::kNone &&
         status.type == type;
}

}  // namespace

bool ArticleFolderIsMissing(platform::Env& env) {
  platform::FileStatus status;
  const platform::SystemError error = env.PathStatus(kArticleFolder, /*follow_links=*/true, status);
  return error == platform::system_error::kFileNotFound ||
         error == platform::system_error::kPathNotFound;
}

bool IsKnowledgeBase(platform::Env& env) {
  return Holds(env, kArticleFolder, platform::FileType::kDirectory) ||
         (Holds(env, kHeaderTemplateName, platform::FileType::kRegular) &&
          Holds(env, kFooterTemplateName, platform::FileType::kRegular));
}

}  // namespace kb
