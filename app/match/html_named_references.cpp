#include "app/match/html_named_references.h"

#include <algorithm>
#include <iterator>

namespace kb {
namespace {

struct NamedReference {
  std::string_view name;  // with its ";" where the reference needs one
  std::string_view text;
};

// Sorted by name, so that a reference is found by binary search.
constexpr NamedReference kNamedReferences[] = {
#include "app/match/html_named_references.inc"
};

constexpr bool SortedByName() {
  return std::is_sorted(std::begin(kNamedReferences), std::end(kNamedReferences),
                        [](const NamedReference& left, const NamedReference& right) {
                          return left.name < right.name;
                        });
}

// The longest name without its ";", among all names or only those known without one.
constexpr std::size_t LongestName(bool only_without_semicolon) {
  std::size_t longest = 0;
  for (const NamedReference& reference : kNamedReferences) {
    const bool has_semicolon = reference.name.ends_with(';');
    if (only_without_semicolon && has_semicolon) continue;
    longest = std::max(longest, reference.name.size() - (has_semicolon ? 1 : 0));
  }
  return longest;
}

// The references that articles write most, looked up without the search: "&lt;" and "&gt;"
// fill the code of documentation, and a search through the whole table costs a dozen
// comparisons.
constexpr NamedReference kCommonReferences[] = {
    {"lt;", "<"}, {"gt;", ">"}, {"amp;", "&"}, {"quot;", "\""}, {"nbsp;", "\u00A0"}};

constexpr std::string_view SearchedText(std::string_view name) {
  const auto found =
      std::lower_bound(std::begin(kNamedReferences), std::end(kNamedReferences), name,
                       [](const NamedReference& reference, std::string_view sought) {
                         return reference.name < sought;
                       });
  return found != std::end(kNamedReferences) && found->name == name ? found->text : "";
}

constexpr bool CommonReferencesAreInTheTable() {
  return std::all_of(
      std::begin(kCommonReferences), std::end(kCommonReferences),
      [](const NamedReference& common) { return SearchedText(common.name) == common.text; });
}

static_assert(SortedByName());
static_assert(CommonReferencesAreInTheTable());
static_assert(LongestName(false) == kLongestReferenceName);
static_assert(LongestName(true) == kLongestNameWithoutSemicolon);

}  // namespace

std::string_view NamedReferenceText(std::string_view name) {
  for (const NamedReference& common : kCommonReferences) {
    if (common.name == name) return common.text;
  }
  return SearchedText(name);
}

}  // namespace kb
