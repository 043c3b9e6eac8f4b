#include "app/base/knowledge_base.h"

#include <string>
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
  return IsKnowledgeBaseFolder(env, ".");
}

bool IsKnowledgeBaseFolder(platform::Env& env, std::string_view folder) {
  const auto in_folder = [&](std::string_view name) {
    return std::string(folder) + "/" + std::string(name);
  };
  return Holds(env, in_folder(kArticleFolder.substr(2)), platform::FileType::kDirectory) ||
         (Holds(env, in_folder(kHeaderTemplateName), platform::FileType::kRegular) &&
          Holds(env, in_folder(kFooterTemplateName), platform::FileType::kRegular));
}

}  // namespace kb
