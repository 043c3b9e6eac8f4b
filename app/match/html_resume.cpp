#include "app/match/html_resume.h"

#include <algorithm>
#include <vector>

#include "app/match/html_markup.h"
#include "app/match/phrase_finder.h"

namespace kb {
namespace {

// How much the readers of every way are given at a time before they are compared.
constexpr std::size_t kComparedStep = 64;

}  // namespace

void TextResumer::ScanTo(std::size_t at) {
  // Made once: a search asks for an article's openers many times.
  static const PhraseFinder finders[kOpenerKinds] = {
      PhraseFinder(kOpeners[0], PhraseFinder::Case::kFolded),
      PhraseFinder(kOpeners[1], PhraseFinder::Case::kFolded),
      PhraseFinder(kOpeners[2], PhraseFinder::Case::kFolded)};
  for (std::size_t kind = 0; kind < kOpenerKinds; ++kind) {
    Last& last = openers_[kind];
    const PhraseFinder& finder = finders[kind];
    for (std::size_t from = scanned_;;) {
      const std::size_t found = finder.Find(article_.substr(from, at - from));
      if (found == PhraseFinder::npos) break;
      last.at = from + found;
      last.end_known = false;
      from = last.at + 1;
    }
  }
  for (Last* quote : {&double_quote_, &single_quote_}) {
    const std::size_t found = article_.substr(scanned_, at - scanned_).rfind(quote->sought[0]);
    if (found != std::string_view::npos) quote->at = scanned_ + found;
  }
  scanned_ = at;
}

bool TextResumer::MarkupMayBeOpenAt(std::size_t at) {
  for (Last& last : openers_) {
    if (last.at == std::string_view::npos) continue;
    // The markup the opener begins, read from it as if it were one, ends before `at`: then
    // so does any that an earlier opener began, which the same end would end if not sooner.
    if (!last.end_known) {
      HtmlMarkup markup;
      markup.Open();
      HtmlMarkup::Stop stop;
      const std::size_t end =
          markup.Read(article_.substr(0, std::min(article_.size(), last.at + kLongestOpenMarkup)),
                      last.at + 1, stop);
      last.end = stop == HtmlMarkup::Stop::kInside ? std::string_view::npos : end;
      last.end_known = true;
    }
    if (last.end == std::string_view::npos || last.end > at) return true;
  }
  return false;
}

bool TextResumer::MayBeInValue(const Last& quote) const {
  if (quote.at == std::string_view::npos) return false;
  std::size_t before = quote.at;
  while (before > 0 && html_markup_detail::IsWhiteSpace(article_[before - 1])) --before;
  return before > 0 && article_[before - 1] == '=';
}

std::optional<std::size_t> TextResumer::Resume(std::size_t from, std::size_t until,
                                               HtmlText& reader) {
  const std::size_t close = article_.find('>', from);
  if (close == std::string_view::npos || close + 1 >= until) return std::nullopt;
  const std::size_t start = close + 1;
  if (start < scanned_) return std::nullopt;
  ScanTo(start);
  if (MarkupMayBeOpenAt(start)) return std::nullopt;

  // Every way a reader can stand right after a ">" that is left.
  std::vector<HtmlText> ways(2);
  ways[0].ResumeInText(false);
  ways[1].ResumeInText(true);
  for (const Last* quote : {&double_quote_, &single_quote_}) {
    if (!MayBeInValue(*quote)) continue;
    const char mark = quote->sought[0];
    // Whether the tag breaks lines or not, its end leaves the reader in text after a blank
    // or not: the two ways of text after it.
    ways.emplace_back().ResumeInQuotedValue(mark, false);
    ways.emplace_back().ResumeInQuotedValue(mark, true);
  }
  for (std::size_t at = start; at < until;) {
    const std::size_t step = std::min(kComparedStep, until - at);
    for (HtmlText& way : ways) way.Extract(article_.substr(at, step));
    at += step;
    bool alike = true;
    for (const HtmlText& way : ways) alike = alike && way.ReadsOnAlike(ways[0]);
    if (alike) {
      reader = std::move(ways[0]);
      return at;
    }
  }
  return std::nullopt;
}

}  // namespace kb
