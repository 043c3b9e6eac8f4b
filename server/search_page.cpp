#include "server/search_page.h"

#include <any>
#include <initializer_list>
#include <utility>

#include "app/base/replaceable_texts.h"
#include "app/match/article_snippets.h"
#include "app/page/results_page.h"
#include "app/page/snippets_page.h"
#include "server/url_text.h"
#include "support/program_texts/program_texts.h"
#include "support/text/text.h"
#include "support/text/utf8.h"

namespace kb::server {
namespace {

// Bytes as the page shows them: UTF-8 as it is, anything else read as Latin-1.
std::string Displayed(std::string_view bytes) {
  if (IsUtf8(bytes)) return std::string(bytes);
  std::string text;
  for (char byte : bytes) {
    const auto value = static_cast<unsigned char>(byte);
    if (value < 0x80) {
      text += byte;
    } else {
      text += static_cast<char>(0xC0 | (value >> 6));
      text += static_cast<char>(0x80 | (value & 0x3F));
    }
  }
  return text;
}

std::string Escaped(std::string_view bytes) {
  const std::string text = Displayed(bytes);
  std::string escaped;
  escaped.reserve(text.size());
  for (char byte : text) {
    switch (byte) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      case '\'':
        escaped += "&#39;";
        break;
      default:
        escaped += byte;
    }
  }
  return escaped;
}

// A replaceable text without the "&" that marks a control's access key.
std::string WithoutAccessKey(std::string_view text) {
  std::string plain;
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (text[at] == '&' && at + 1 < text.size()) ++at;
    plain += text[at];
  }
  return plain;
}

std::string Replaced(std::string_view text, std::string_view key, std::string_view value) {
  std::string result(text);
  const std::size_t at = result.find(key);
  if (at != std::string::npos) result.replace(at, key.size(), value);
  return result;
}

std::string FoundText(std::size_t found, std::string_view phrase) {
  if (found == 0) return Replaced(ProgramText(text::kNotFoundStatus), "%P", phrase);
  if (found == 1) return std::string(ProgramText(text::kFoundOneStatus));
  return Replaced(ProgramText(text::kFoundStatus), "%N", std::to_string(found));
}

// A snippet's text with its marks, each hit between <mark> and </mark>.
std::string SnippetHtml(const Snippet& snippet) {
  std::string html;
  std::size_t at = 0;
  for (const auto& mark : snippet.marks) {
    if (mark.start < at || mark.end > snippet.text.size() || mark.end < mark.start) continue;
    html += Escaped(std::string_view(snippet.text).substr(at, mark.start - at));
    html += "<mark>" +
            Escaped(std::string_view(snippet.text).substr(mark.start, mark.end - mark.start)) +
            "</mark>";
    at = mark.end;
  }
  return html + Escaped(std::string_view(snippet.text).substr(at));
}

std::string ArticleItem(const FoundArticle& article) {
  std::string_view path = article.path;
  if (path.starts_with("./")) path.remove_prefix(2);
  const auto* snippets = (article.details.shown ? &*article.details.shown : nullptr);
  const std::string title =
      snippets != nullptr && !snippets->title.empty() ? Escaped(snippets->title) : Escaped(path);
  const std::string href = "/kb/" + PercentEncodePath(path);
  std::string html = R"(<li><a class="title" href=")" + href + R"(">)" + title +
                     "</a>\n<div class=\"path\">" + Escaped(path) + "</div>\n";
  if (snippets != nullptr) {
    for (const Snippet& snippet : snippets->snippets) {
      const std::string fragment = PassageFragment(snippet.link);
      html += R"(<p class="snippet"><a class="passage" href=")" + href +
              (fragment.empty() ? "" : "#" + fragment) + R"(">)" + SnippetHtml(snippet) +
              "</a></p>\n";
    }
    html += "<div class=\"hits\">" +
            Escaped(snippets->hits == 1 ? std::string(ProgramText(text::kOneHitCount))
                                        : Replaced(ProgramText(text::kHitsCount), "%N",
                                                   std::to_string(snippets->hits))) +
            "</div>\n";
  }
  return html + "</li>\n";
}

// A choice's <select>: its label, and each option's value and text.
std::string ChoiceHtml(
    std::string_view name, const ReplaceableText& label,
    std::initializer_list<std::pair<std::string_view, const ReplaceableText*>> options,
    std::string_view chosen) {
  std::string html = "<label for=\"" + std::string(name) + "\">" +
                     Escaped(WithoutAccessKey(ProgramText(label))) + "</label>\n<select id=\"" +
                     std::string(name) + "\" name=\"" + std::string(name) + "\">";
  for (const auto& [value, text] : options) {
    html += "<option value=\"" + std::string(value) + "\"" + (value == chosen ? " selected" : "") +
            ">" + Escaped(WithoutAccessKey(ProgramText(*text))) + "</option>";
  }
  return html + "</select>\n";
}

}  // namespace

std::string_view QueryKindName(QueryKind kind) {
  return kind == QueryKind::kWords ? "words" : "phrase";
}

std::string_view OrderName(ResultsOrder order) {
  switch (order) {
    case ResultsOrder::kHits:
      return "hits";
    case ResultsOrder::kRelevance:
      return "relevance";
    case ResultsOrder::kName:
      break;
  }
  return "name";
}

std::string SearchPageHtml(std::string_view phrase, PageChoices choices, const Findings* findings,
                           std::string_view refusal, std::size_t offset,
                           std::span<const FoundArticle> shown) {
  const std::string prompt = WithoutAccessKey(ProgramText(text::kSearchPrompt));
  std::string html =
      "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<meta name=\"color-scheme\" content=\"light dark\">\n<title>" +
      Escaped(prompt) + (phrase.empty() ? "" : " " + Escaped(phrase)) +
      "</title>\n<link rel=\"stylesheet\" href=\"/page.css\">\n"
      "<script src=\"/page.js\" defer></script>\n</head>\n<body data-found=\"" +
      Escaped(ProgramText(text::kFoundStatus)) + "\" data-found-one=\"" +
      Escaped(ProgramText(text::kFoundOneStatus)) + "\" data-not-found=\"" +
      Escaped(ProgramText(text::kNotFoundStatus)) + "\" data-hits=\"" +
      Escaped(ProgramText(text::kHitsCount)) + "\" data-one-hit=\"" +
      Escaped(ProgramText(text::kOneHitCount)) + "\">\n" +
      "<form action=\"/\" method=\"get\" role=\"search\">\n<label for=\"q\">" + Escaped(prompt) +
      "</label>\n<input id=\"q\" name=\"q\" type=\"search\" autocomplete=\"off\" autofocus "
      "value=\"" +
      Escaped(phrase) + "\">\n<button type=\"submit\">" +
      Escaped(WithoutAccessKey(ProgramText(text::kSearchButton))) +
      "</button>\n<div class=\"choices\">\n" +
      ChoiceHtml("query", text::kQueryChoice,
                 {{"words", &text::kWordsChoice}, {"phrase", &text::kPhraseChoice}},
                 QueryKindName(choices.kind)) +
      ChoiceHtml("order", text::kOrderChoice,
                 {{"name", &text::kNameOrderChoice},
                  {"hits", &text::kHitsOrderChoice},
                  {"relevance", &text::kRelevanceOrderChoice}},
                 OrderName(choices.order)) +
      "</div>\n</form>\n<p id=\"status\" aria-live=\"polite\">";
  if (!refusal.empty()) html += Escaped(refusal);
  if (findings != nullptr) html += Escaped(FoundText(findings->found.size(), phrase));
  html += "</p>\n<ul id=\"errors\">";
  if (findings != nullptr) {
    for (const SearchError& error : findings->errors) {
      html += "<li>" + Escaped(error.message) + "</li>";
    }
  }
  html += "</ul>\n<ol id=\"results\">\n";
  if (findings != nullptr) {
    const std::size_t total = findings->found.size();
    for (const FoundArticle& article : shown) html += ArticleItem(article);
    const std::size_t end = offset + shown.size();
    html += "</ol>\n";
    if (end < total) {
      html += "<p><a id=\"more\" href=\"/?q=" + PercentEncodePath(phrase) +
              "&amp;query=" + std::string(QueryKindName(choices.kind)) +
              "&amp;order=" + std::string(OrderName(choices.order)) +
              "&amp;offset=" + std::to_string(end) + "\">&#8594;</a></p>\n";
    }
  } else {
    html += "</ol>\n";
  }
  return html + "</body>\n</html>\n";
}

std::string_view SearchPageStyle() {
  return R"(:root { color-scheme: light dark; --fg: #1b1b1b; --bg: #ffffff; --dim: #5f6368;
  --link: #1a4fb5; --mark: #ffe46b; --select: #e8eefc; }
@media (prefers-color-scheme: dark) {
  :root { --fg: #e6e6e6; --bg: #17181a; --dim: #a0a4a8; --link: #8ab4f8; --mark: #806b00;
    --select: #263147; }
}
body { font: 16px/1.45 system-ui, sans-serif; color: var(--fg); background: var(--bg);
  max-width: 52rem; margin: 2rem auto; padding: 0 1rem; }
form { display: flex; flex-wrap: wrap; gap: .5rem; align-items: center; }
.choices { flex-basis: 100%; display: flex; flex-wrap: wrap; gap: .5rem; align-items: center;
  color: var(--dim); font-size: .9rem; }
select { font: inherit; color: var(--fg); background: var(--bg); padding: .15rem .3rem;
  border: 1px solid var(--dim); border-radius: 4px; margin-right: .75rem; }
input[type=search] { flex: 1; font: inherit; padding: .4rem .6rem; color: inherit;
  background: transparent; border: 1px solid var(--dim); border-radius: 4px; }
button { font: inherit; padding: .4rem .9rem; }
#status { color: var(--dim); min-height: 1.5em; }
#errors { color: #c5221f; }
ol#results { list-style: none; padding: 0; }
#results li { padding: .6rem .6rem; border-radius: 6px; }
#results li.selected { background: var(--select); }
a.title { color: var(--link); font-size: 1.1rem; text-decoration: none; }
a.title:hover, a.title:focus { text-decoration: underline; }
.path, .hits { color: var(--dim); font-size: .85rem; }
.snippet { margin: .25rem 0; }
a.passage { color: inherit; text-decoration: none; }
a.passage:hover, a.passage:focus { text-decoration: underline; }
mark { background: var(--mark); color: inherit; }
)";
}

std::string_view SearchPageScript() {
  return R"('use strict';
(() => {
  const texts = document.body.dataset;
  const input = document.getElementById('q');
  const kind = document.getElementById('query');
  const order = document.getElementById('order');
  const status = document.getElementById('status');
  const errors = document.getElementById('errors');
  const list = document.getElementById('results');
  const encoder = new TextEncoder();
  const utf8 = new TextDecoder('utf-8');
  const latin = new TextDecoder('windows-1252');
  let timer = 0;
  let controller = null;
  let selected = -1;

  // The bytes of a value the API gives as {"text": ...} or {"bytes": base64}.
  const bytesOf = (data) => {
    if (typeof data.text === 'string') return encoder.encode(data.text);
    const raw = atob(data.bytes);
    const bytes = new Uint8Array(raw.length);
    for (let i = 0; i < raw.length; ++i) bytes[i] = raw.charCodeAt(i);
    return bytes;
  };
  const textOf = (data) => (typeof data.text === 'string' ? data.text : latin.decode(bytesOf(data)));
  const relativePath = (data) => {
    const bytes = bytesOf(data);
    return bytes[0] === 46 && bytes[1] === 47 ? bytes.subarray(2) : bytes;
  };
  const hrefOf = (data) => {
    let href = '/kb/';
    for (const byte of relativePath(data)) {
      const c = String.fromCharCode(byte);
      href += byte < 128 && /[A-Za-z0-9\-._~\/]/.test(c)
        ? c : '%' + byte.toString(16).toUpperCase().padStart(2, '0');
    }
    return href;
  };
  const foundText = (count, phrase) => {
    if (count === 0) return texts.notFound.replace('%P', phrase);
    if (count === 1) return texts.foundOne;
    return texts.found.replace('%N', String(count));
  };

  // A snippet's text, each mark from its byte offsets, all of it inserted as text.
  const snippetNode = (snippet, href) => {
    const p = document.createElement('p');
    p.className = 'snippet';
    const link = document.createElement('a');
    link.className = 'passage';
    link.href = typeof snippet.fragment === 'string' ? href + '#' + snippet.fragment : href;
    p.append(link);
    const isText = typeof snippet.text === 'string';
    const bytes = isText ? encoder.encode(snippet.text) : bytesOf({bytes: snippet.bytes});
    const decoder = isText ? utf8 : latin;
    let at = 0;
    for (const mark of snippet.marks) {
      if (mark.start < at || mark.end > bytes.length || mark.end < mark.start) continue;
      link.append(decoder.decode(bytes.subarray(at, mark.start)));
      const marked = document.createElement('mark');
      marked.textContent = decoder.decode(bytes.subarray(mark.start, mark.end));
      link.append(marked);
      at = mark.end;
    }
    link.append(decoder.decode(bytes.subarray(at)));
    return p;
  };

  const itemNode = (match) => {
    const item = document.createElement('li');
    const link = document.createElement('a');
    link.className = 'title';
    link.href = hrefOf(match.path);
    const path = latin.decode(relativePath(match.path));
    const title = match.title ? textOf(match.title) : '';
    link.textContent = title || (typeof match.path.text === 'string'
      ? match.path.text.replace(/^\.\//, '') : path);
    const where = document.createElement('div');
    where.className = 'path';
    where.textContent = typeof match.path.text === 'string'
      ? match.path.text.replace(/^\.\//, '') : path;
    item.append(link, where);
    for (const snippet of match.snippets || []) item.append(snippetNode(snippet, link.href));
    if (typeof match.hits === 'number') {
      const hits = document.createElement('div');
      hits.className = 'hits';
      hits.textContent = match.hits === 1 ? texts.oneHit
        : texts.hits.replace('%N', String(match.hits));
      item.append(hits);
    }
    return item;
  };

  const links = () => list.querySelectorAll('li a.title');
  const select = (index) => {
    const all = links();
    if (all.length === 0) return;
    selected = Math.max(0, Math.min(all.length - 1, index));
    all.forEach((link, i) => link.parentElement.classList.toggle('selected', i === selected));
    all[selected].parentElement.scrollIntoView({block: 'nearest'});
  };

  const show = (phrase, answer) => {
    // A result chosen with Up or Down stays chosen when a later answer still holds it.
    const chosen = selected >= 0 && selected < links().length ? links()[selected].href : null;
    selected = -1;
    list.replaceChildren(...answer.matches.map(itemNode));
    const kept = Array.from(links()).findIndex((link) => link.href === chosen);
    if (kept >= 0) select(kept);
    errors.replaceChildren(...answer.errors.map((error) => {
      const item = document.createElement('li');
      item.textContent = textOf(error.message);
      return item;
    }));
    const more = document.getElementById('more');
    if (more) more.parentElement.remove();
    status.textContent = foundText(answer.summary.stats.articles_matched, phrase);
  };

  // The query and its choices, as the address and the API take them.
  const searchArguments = () => 'q=' + encodeURIComponent(input.value) + '&query=' + kind.value +
    '&order=' + order.value;

  const search = async () => {
    const phrase = input.value;
    history.replaceState(null, '', phrase ? '/?' + searchArguments() : '/');
    if (controller) controller.abort();
    if (!phrase) {
      controller = null;
      list.replaceChildren();
      errors.replaceChildren();
      status.textContent = '';
      return;
    }
    controller = new AbortController();
    const signal = controller.signal;
    try {
      const response = await fetch('/api/search?limit=50&' + searchArguments(), {signal});
      const answer = await response.json();
      if (signal.aborted) return;
      if (!response.ok) {
        list.replaceChildren();
        status.textContent = answer.error || response.statusText;
        return;
      }
      show(phrase, answer);
    } catch (error) {
      if (!signal.aborted) status.textContent = String(error.message || error);
    }
  };

  input.addEventListener('input', () => {
    clearTimeout(timer);
    timer = setTimeout(search, 120);
  });
  input.addEventListener('keydown', (event) => {
    if (event.key === 'ArrowDown') {
      event.preventDefault();
      select(selected + 1);
    } else if (event.key === 'ArrowUp') {
      event.preventDefault();
      select(selected - 1);
    } else if (event.key === 'Enter') {
      event.preventDefault();
      const all = links();
      if (selected >= 0 && selected < all.length) {
        // At the first passage a link can open at (a hit in the title has none).
        const item = all[selected].parentElement;
        window.location.href = (item.querySelector('a.passage[href*="#"]') || all[selected]).href;
      } else {
        clearTimeout(timer);
        search();
      }
    }
  });
  for (const choice of [kind, order]) {
    choice.addEventListener('change', () => {
      clearTimeout(timer);
      search();
    });
  }

  // The query and its choices as the address gives them (a bookmark, a shared link, the
  // browser's history), whatever the form kept from an earlier visit.
  const address = new URLSearchParams(window.location.search);
  const given = (choice, name) => {
    const value = address.get(name);
    if (value !== null && Array.from(choice.options).some((option) => option.value === value)) {
      choice.value = value;
    }
  };
  given(kind, 'query');
  given(order, 'order');
  if (address.has('q')) input.value = address.get('q');
  input.focus();
})();
)";
}

}  // namespace kb::server
