#include "app/match/article_region.h"

#include <algorithm>
#include <array>

#include "support/text/ascii.h"

namespace kb {
namespace {

using html_markup_detail::EndsTagName;
using html_markup_detail::IsWhiteSpace;

// Elements that never have contents: their start tag is the whole element.
constexpr std::array<std::string_view, 14> kVoidElements = {
    "area",  "base", "br",   "col",   "embed",  "hr",    "img",
    "input", "link", "meta", "param", "source", "track", "wbr"};

bool EqualsLowerCase(std::string_view text, std::string_view lower) {
  return std::equal(text.begin(), text.end(), lower.begin(), lower.end(),
                    [](char a, char b) { return ToLowerAscii(a) == b; });
}

// Whether the white space separated words of `value` include `word`.
bool HoldsWord(std::string_view value, std::string_view word) {
  std::size_t at = 0;
  while (at < value.size()) {
    while (at < value.size() && IsWhiteSpace(value[at])) ++at;
    const std::size_t start = at;
    while (at < value.size() && !IsWhiteSpace(value[at])) ++at;
    if (at > start && value.substr(start, at - start) == word) return true;
  }
  return false;
}

}  // namespace

void HtmlTagWalker::Restart() {
  in_markup_ = false;
  tag_.clear();
}

std::size_t HtmlTagWalker::Next(std::string_view piece, std::size_t at, bool& tag_ended) {
  tag_ended = false;
  while (at < piece.size()) {
    if (!in_markup_) {
      const std::size_t open = piece.find('<', at);
      if (open == std::string_view::npos) return piece.size();
      markup_.Open();
      in_markup_ = true;
      tag_.assign(1, '<');
      at = open + 1;
      continue;
    }
    HtmlMarkup::Stop stop = HtmlMarkup::Stop::kInside;
    const std::size_t end = markup_.Read(piece, at, stop);
    if (reads_classes_ && tag_.size() < kLongestReadTag) {
      tag_.append(piece.substr(at, std::min(end - at, kLongestReadTag - tag_.size())));
    }
    at = end;
    if (stop == HtmlMarkup::Stop::kInside) continue;
    in_markup_ = false;
    if (stop == HtmlMarkup::Stop::kTagEnded) {
      tag_ended = true;
      return at;
    }
  }
  return at;
}

// The attributes are read as HtmlMarkup reads them: a value follows an "=", in quotes when
// its first byte after white space is one, else up to white space or ">".
bool HtmlTagWalker::HasClass(std::string_view name) const {
  const std::string_view tag = tag_;
  std::size_t at = 1;
  while (at < tag.size() && !EndsTagName(tag[at])) ++at;
  std::string_view attribute;
  while (at < tag.size() && tag[at] != '>') {
    const char byte = tag[at];
    if (byte == '=') {
      ++at;
      while (at < tag.size() && IsWhiteSpace(tag[at])) ++at;
      std::size_t start = at;
      std::size_t end = at;
      if (at < tag.size() && (tag[at] == '"' || tag[at] == '\'')) {
        start = at + 1;
        end = std::min(tag.find(tag[at], start), tag.size());
        at = end + 1;
      } else {
        while (at < tag.size() && !IsWhiteSpace(tag[at]) && tag[at] != '>') ++at;
        end = at;
      }
      if (EqualsLowerCase(attribute, "class") && HoldsWord(tag.substr(start, end - start), name)) {
        return true;
      }
      attribute = {};
    } else if (IsWhiteSpace(byte) || byte == '/') {
      ++at;
    } else {
      const std::size_t start = at;
      while (at < tag.size() && !EndsTagName(tag[at]) && tag[at] != '=') ++at;
      attribute = tag.substr(start, at - start);
    }
  }
  return false;
}

ArticleRegion::ArticleRegion(const ArticlePart& part, bool drops_ignored)
    : start_kind_(part.has_default_marker()    ? Start::kPageStart
                  : part.marker == kBodyMarker ? Start::kBodyTag
                                               : Start::kMarker),
      whole_page_(part.has_default_marker() && (!drops_ignored || part.ignore.empty())) {
  if (start_kind_ == Start::kMarker) marker_.emplace(part.marker, PhraseFinder::Case::kExact);
  if (drops_ignored) {
    for (const std::string& ignored : part.ignore) {
      if (ignored.starts_with('.')) {
        ignored_classes_.push_back(ignored.substr(1));
      } else {
        ignored_names_.push_back(ignored);
      }
    }
  }
  walker_ = HtmlTagWalker(!ignored_classes_.empty());
  Restart();
}

void ArticleRegion::Restart() {
  started_ = start_kind_ == Start::kPageStart;
  if (marker_) marker_->Restart();
  start_walker_.Restart();
  walker_.Restart();
  passed_over_.clear();
  depth_ = 0;
}

std::string_view ArticleRegion::Feed(std::string_view piece) {
  if (!started_) {
    const std::size_t start = FindStart(piece);
    if (start == std::string_view::npos) return {};
    started_ = true;
    piece.remove_prefix(start);
  }
  if (ignored_names_.empty() && ignored_classes_.empty()) return piece;
  out_.clear();
  DropIgnored(piece);
  return out_;
}

std::size_t ArticleRegion::FindStart(std::string_view piece) {
  if (start_kind_ == Start::kMarker) {
    const uint64_t piece_start = marker_->fed();
    marker_->Feed(piece);
    if (!marker_->found()) return std::string_view::npos;
    return static_cast<std::size_t>(marker_->position() + marker_->size() - piece_start);
  }
  for (std::size_t at = 0; at < piece.size();) {
    bool tag_ended = false;
    at = start_walker_.Next(piece, at, tag_ended);
    if (tag_ended && !start_walker_.end_tag() && start_walker_.name() == "body") return at;
  }
  return std::string_view::npos;
}

bool ArticleRegion::Ignored() const {
  if (walker_.end_tag()) return false;
  const std::string_view name = walker_.name();
  return std::ranges::find(ignored_names_, name) != ignored_names_.end() ||
         std::ranges::any_of(ignored_classes_,
                             [&](const std::string& name) { return walker_.HasClass(name); });
}

void ArticleRegion::DropIgnored(std::string_view piece) {
  std::size_t kept_from = depth_ == 0 ? 0 : std::string_view::npos;
  for (std::size_t at = 0; at < piece.size();) {
    bool tag_ended = false;
    at = walker_.Next(piece, at, tag_ended);
    if (!tag_ended) break;
    if (depth_ == 0) {
      if (!Ignored()) continue;
      out_.append(piece.substr(kept_from, at - kept_from));
      out_.push_back(' ');
      if (std::ranges::find(kVoidElements, walker_.name()) != kVoidElements.end()) {
        kept_from = at;
      } else {
        passed_over_ = walker_.name();
        depth_ = 1;
        kept_from = std::string_view::npos;
      }
    } else if (walker_.name() == passed_over_) {
      if (!walker_.end_tag()) {
        ++depth_;
      } else if (--depth_ == 0) {
        kept_from = at;
      }
    }
  }
  if (kept_from != std::string_view::npos) out_.append(piece.substr(kept_from));
}

std::optional<std::string> MarkerOf(std::string_view value) {
  if (value.empty()) return std::nullopt;
  if (EqualsLowerCase(value, kBodyMarker)) return std::string(kBodyMarker);
  return std::string(value);
}

std::optional<std::string> ParseIgnoreList(std::string_view list,
                                           std::vector<std::string>& ignore) {
  std::vector<std::string> entries;
  const auto separates = [](char byte) { return byte == ',' || IsWhiteSpace(byte); };
  std::size_t at = 0;
  while (at < list.size()) {
    while (at < list.size() && separates(list[at])) ++at;
    const std::size_t start = at;
    while (at < list.size() && !separates(list[at])) ++at;
    if (at == start) break;
    std::string entry(list.substr(start, at - start));
    const bool is_class = entry.size() > 1 && entry.front() == '.';
    const bool is_name = IsAsciiLetter(entry.front()) && std::ranges::all_of(entry, [](char byte) {
                           return IsAsciiAlphanumeric(byte) || byte == '-';
                         });
    if (!is_class && !is_name) return entry;
    if (is_name) std::ranges::transform(entry, entry.begin(), ToLowerAscii);
    if (std::ranges::find(entries, entry) == entries.end()) entries.push_back(std::move(entry));
  }
  ignore = std::move(entries);
  return std::nullopt;
}

std::string IgnoreListText(const std::vector<std::string>& ignore) {
  std::string text;
  for (const std::string& entry : ignore) text += (text.empty() ? "" : ", ") + entry;
  return text;
}

std::optional<std::string> RegionOf(std::string_view page, const ArticlePart& part,
                                    bool drops_ignored) {
  ArticleRegion region(part, drops_ignored);
  const std::string_view bytes = region.Feed(page);
  if (!region.started()) return std::nullopt;
  return std::string(bytes);
}

}  // namespace kb
