#include "app/setup/page_place.h"

#include <cstdint>

#include "app/page/results_page.h"
#include "platform/private_folder.h"
#include "platform/process.h"
#include "support/text/text.h"

namespace kb {
namespace {

// Longer names than this are cut, to stay within the file system's 255 bytes with the hash
// and the extension.
constexpr std::size_t kLongestPlacedName = 200;

std::string Hex(uint64_t value) {
  constexpr std::string_view kHexDigits = "0123456789abcdef";
  std::string hex(16, '0');
  for (std::size_t at = 16; at-- > 0; value >>= 4) hex[at] = kHexDigits[value & 0xF];
  return hex;
}

}  // namespace

std::string PlacedPagesFolder() {
  for (const auto& [variable, below] : {std::pair{"XDG_RUNTIME_DIR", "/kbsearch/pages"},
                                        std::pair{"XDG_CACHE_HOME", "/kbsearch/pages"},
                                        std::pair{"HOME", "/.cache/kbsearch/pages"}}) {
    const std::optional<std::string> folder = platform::EnvironmentVariable(variable);
    if (folder && folder->starts_with('/')) return *folder + below;
  }
  return {};
}

std::string PlacedPageName(std::string_view root) {
  std::string name = PercentEncoded(root, "-._");
  if (name.size() > kLongestPlacedName) {
    uint64_t hash = 0xcbf29ce484222325ULL;
    for (const char byte : root)
      hash = (hash ^ static_cast<unsigned char>(byte)) * 0x100000001b3ULL;
    name =
        Concat({Hex(hash), "-", std::string_view(name).substr(name.size() - kLongestPlacedName)});
  }
  return name + ".htm";
}

void PlaceResultsPage(KnowledgeBase& base, const std::optional<std::string>& page) {
  if (base.ListsArticleFolder() || base.root.empty()) return;
  if (page) {
    base.page = *page;
  } else if (!platform::MayMakeFilesIn(".")) {
    const std::string folder = PlacedPagesFolder();
    platform::PrivateFolder::Outcome outcome = platform::PrivateFolder::Outcome::kMissing;
    if (folder.empty() || !platform::PrivateFolder::Open(folder, /*make=*/true, outcome)) return;
    base.page = Concat({folder, "/", PlacedPageName(base.root)});
  }
  if (!base.page.starts_with("./")) {
    base.link_base = Concat({"file://", PercentEncodePath(base.root), base.root == "/" ? "" : "/"});
  }
}

}  // namespace kb
