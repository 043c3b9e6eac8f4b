#include "app/page/snippets_page.h"

#include "app/page/excerpt_text.h"
#include "app/page/results_page.h"
#include "files/text_line_file.h"
#include "support/text/ascii.h"
#include "support/text/text.h"

namespace kb {

std::string SnippetsRow(std::string_view path, std::string_view excerpt,
                        const ArticleSnippets& shown, std::string_view link_base) {
  std::string row = LinkLine(path, link_base);
  const auto line = [&row](std::initializer_list<std::string_view> pieces) {
    row.append(kLineEnd);
    for (const std::string_view piece : pieces) row.append(piece);
  };
  line({R"(<td><font face="Verdana,Arial" size="2">)"});
  if (!shown.title.empty()) {
    line({R"(<div class="kb-title"><b><a href=")", ArticleHref(path, link_base), R"(">)",
          EscapeHtml(shown.title), "</a></b></div>"});
  }
  if (const std::string text = ExcerptText(excerpt); !text.empty()) {
    line({R"(<div class="kb-excerpt"><small>)", text, "</small></div>"});
  }
  for (const Snippet& snippet : shown.snippets) {
    line({R"(<div class="kb-snippet"><a href=")", PassageUrl(path, snippet.link, link_base),
          R"(" style="color:inherit">)", MarkedSnippet(snippet), "</a></div>"});
  }
  line({R"(<div class="kb-hits"><small>)", HitsText(shown.hits), "</small></div>"});
  line({"</font></td></tr>"});
  return row;
}

namespace {

// An orange that stands out on the results table's yellow, where a mark's default yellow
// hardly shows, and on the light backgrounds of templates; the text on it stays black.
constexpr std::string_view kMarkOpen = R"(<mark style="background:#ff9f43;color:#000">)";
constexpr std::string_view kMarkClose = "</mark>";

}  // namespace

std::string MarkedSnippet(const Snippet& snippet) {
  const std::string_view text = snippet.text;
  std::string html;
  html.reserve(text.size() + snippet.marks.size() * (kMarkOpen.size() + kMarkClose.size()));
  std::size_t from = 0;
  for (const SnippetMark& mark : snippet.marks) {
    AppendEscapedHtml(html, text.substr(from, mark.start - from));
    html.append(kMarkOpen);
    AppendEscapedHtml(html, text.substr(mark.start, mark.end - mark.start));
    html.append(kMarkClose);
    from = mark.end;
  }
  AppendEscapedHtml(html, text.substr(from));
  return html;
}

std::string PercentEncodeFragmentText(std::string_view text) {
  return PercentEncoded(text, "._~");
}

std::string PassageUrl(std::string_view path, const PassageLink& link, std::string_view link_base) {
  const std::string fragment = PassageFragment(link);
  std::string url = ArticleHref(path, link_base);
  return fragment.empty() ? url : url + '#' + fragment;
}

std::string PassageFragment(const PassageLink& link) {
  std::string fragment = PercentEncodePath(link.id);
  if (link.text.empty()) return fragment;
  fragment += ":~:text=";
  if (!link.prefix.empty()) fragment += PercentEncodeFragmentText(link.prefix) + "-,";
  fragment += PercentEncodeFragmentText(link.text);
  if (!link.suffix.empty()) fragment += ",-" + PercentEncodeFragmentText(link.suffix);
  return fragment;
}

std::string HitsText(int64_t hits) {
  return hits == 1 ? "1 hit" : std::to_string(hits) + " hits";
}

}  // namespace kb
