#include "app/search/search_json.h"

#include <algorithm>
#include <array>

#include "app/page/snippets_page.h"
#include "support/text/utf8.h"

namespace kb {
namespace {

constexpr std::string_view kHexDigits = "0123456789abcdef";

// How JsonString writes each byte that it does not copy: its escape, or empty for a byte
// copied as it is.
constexpr std::array<std::string_view, 128> kEscapes = [] {
  std::array<std::string_view, 128> escapes{};
  escapes['"'] = R"(\")";
  escapes['\\'] = R"(\\)";
  escapes['\b'] = R"(\b)";
  escapes['\f'] = R"(\f)";
  escapes['\n'] = R"(\n)";
  escapes['\r'] = R"(\r)";
  escapes['\t'] = R"(\t)";
  return escapes;
}();

// `value` in decimal, at least `width` digits.
std::string Digits(int64_t value, std::size_t width = 1) {
  std::string digits = std::to_string(value);
  if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
  return digits;
}

}  // namespace

std::string JsonString(std::string_view bytes) {
  std::string json = "\"";
  json.reserve(bytes.size() + 2);
  for (char byte : bytes) {
    const auto value = static_cast<unsigned char>(byte);
    if (value >= 0x80 || (value >= 0x20 && kEscapes[value].empty())) {
      json += byte;
    } else if (!kEscapes[value].empty()) {
      json += kEscapes[value];
    } else {
      json.append(R"(\u00)").append(1, kHexDigits[value >> 4]).append(1, kHexDigits[value & 0xF]);
    }
  }
  return json += '"';
}

std::string Base64(std::string_view bytes) {
  constexpr std::string_view kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string encoded;
  encoded.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t at = 0; at < bytes.size(); at += 3) {
    const std::size_t count = std::min<std::size_t>(3, bytes.size() - at);
    uint32_t group = 0;
    for (std::size_t i = 0; i < 3; ++i) {
      group = group << 8 | (i < count ? static_cast<unsigned char>(bytes[at + i]) : 0u);
    }
    for (std::size_t i = 0; i < 4; ++i) {
      encoded += i <= count ? kAlphabet[(group >> (18 - 6 * i)) & 0x3F] : '=';
    }
  }
  return encoded;
}

std::string JsonData(std::string_view bytes) {
  if (IsUtf8(bytes)) return R"({"text":)" + JsonString(bytes) + "}";
  return R"({"bytes":")" + Base64(bytes) + "\"}";
}

std::string JsonMatchData(std::string_view path, std::string_view excerpt,
                          std::string_view page_excerpt, const ArticleSnippets* snippets,
                          bool words) {
  std::string data = R"({"path":)" + JsonData(path) + R"(,"excerpt":)" + JsonData(excerpt) +
                     R"(,"page_excerpt":)" + JsonData(page_excerpt);
  if (snippets != nullptr) {
    data += R"(,"title":)" + JsonData(snippets->title) + R"(,"hits":)" + Digits(snippets->hits) +
            R"(,"snippets":[)";
    for (std::size_t index = 0; index < snippets->snippets.size(); ++index) {
      const Snippet& snippet = snippets->snippets[index];
      if (index > 0) data += ',';
      data += IsUtf8(snippet.text) ? R"({"text":)" + JsonString(snippet.text)
                                   : R"({"bytes":")" + Base64(snippet.text) + '"';
      data += R"(,"marks":[)";
      for (std::size_t mark = 0; mark < snippet.marks.size(); ++mark) {
        if (mark > 0) data += ',';
        data += R"({"start":)" + Digits(static_cast<int64_t>(snippet.marks[mark].start)) +
                R"(,"end":)" + Digits(static_cast<int64_t>(snippet.marks[mark].end));
        if (words) data += R"(,"term":)" + Digits(static_cast<int64_t>(snippet.marks[mark].term));
        data += '}';
      }
      data += ']';
      if (const std::string fragment = PassageFragment(snippet.link); !fragment.empty()) {
        data += R"(,"fragment":)" + JsonString(fragment);
      }
      data += '}';
    }
    data += ']';
  }
  return data += '}';
}

std::string JsonErrorData(std::string_view message, int64_t code, std::string_view path) {
  return R"({"message":)" + JsonData(message) + R"(,"code":)" + Digits(code) + R"(,"path":)" +
         (path.empty() ? "null" : JsonData(path)) + "}";
}

std::string JsonSummaryData(const SearchSummary& summary) {
  const int64_t nanoseconds = summary.elapsed.count();
  const int64_t seconds = nanoseconds / 1'000'000'000;
  const int64_t fraction = nanoseconds % 1'000'000'000;
  const std::string elapsed = R"({"secs":)" + Digits(seconds) + R"(,"nanos":)" + Digits(fraction) +
                              R"(,"human":")" + Digits(seconds) + "." + Digits(fraction / 1000, 6) +
                              "s\"}";
  const std::string stats = R"({"articles_listed":)" + Digits(summary.articles_listed) +
                            R"(,"articles_opened":)" + Digits(summary.articles_opened) +
                            R"(,"articles_matched":)" + Digits(summary.articles_matched) +
                            R"(,"articles_read":)" + Digits(summary.articles_read) + "}";
  const std::string index =
      R"({"state":)" + JsonString(summary.index_state) + R"(,"reason":)" +
      (summary.index_reason.empty() ? "null" : JsonString(summary.index_reason)) + "}";
  std::string terms;
  if (summary.terms != nullptr) {
    terms = R"(,"terms":[)";
    for (std::size_t at = 0; at < summary.terms->size(); ++at) {
      const QueryTerm& term = (*summary.terms)[at];
      if (at > 0) terms += ',';
      terms += R"({"word":)" + JsonData(term.text) + R"(,"excluded":)" +
               (term.excluded ? "true" : "false") + "}";
    }
    terms += ']';
  }
  return R"({"phrase":)" + JsonData(summary.phrase) + terms + R"(,"elapsed_total":)" + elapsed +
         R"(,"stats":)" + stats + R"(,"index":)" + index + "}";
}

}  // namespace kb
