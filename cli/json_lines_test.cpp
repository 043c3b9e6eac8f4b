#include "cli/json_lines.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

#include "support/text/utf8.h"

namespace kb::cli {
namespace {

using nlohmann::json;
using namespace std::string_literals;

// The bytes base64 stands for, decoded the long way round: six bits per symbol.
std::string Base64Decoded(std::string_view encoded) {
  constexpr std::string_view kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string bits;
  for (const char symbol : encoded) {
    if (symbol == '=') break;
    const std::size_t value = kAlphabet.find(symbol);
    EXPECT_NE(value, std::string_view::npos) << symbol;
    for (int bit = 5; bit >= 0; --bit) bits += (value >> bit & 1) != 0 ? '1' : '0';
  }
  EXPECT_EQ(encoded.size() % 4, 0u) << "padded";
  std::string bytes;
  for (std::size_t at = 0; at + 8 <= bits.size(); at += 8) {
    bytes += static_cast<char>(std::stoi(bits.substr(at, 8), nullptr, 2));
  }
  return bytes;
}

// The bytes of a {"text": ...} or {"bytes": ...} member, which must be "text" exactly when
// they are UTF-8.
std::string DataBytes(const json& data) {
  EXPECT_EQ(data.size(), 1u) << data;
  if (data.contains("text")) return data.at("text").get<std::string>();
  const std::string bytes = Base64Decoded(data.at("bytes").get<std::string>());
  EXPECT_FALSE(IsUtf8(bytes)) << "UTF-8 given as bytes: " << data;
  return bytes;
}

// A line that a strict parser reads as one object, UTF-8 with no raw control character (JSON's
// own, below 0x20), ending in one newline.
json ParsedLine(const std::string& line) {
  EXPECT_TRUE(line.ends_with("\n")) << line;
  EXPECT_EQ(line.find('\n'), line.size() - 1) << line;
  for (const char byte : line.substr(0, line.size() - 1)) {
    EXPECT_GE(static_cast<unsigned char>(byte), 0x20) << line;
  }
  EXPECT_TRUE(IsUtf8(line)) << line;
  try {
    return json::parse(line);
  } catch (const json::exception& error) {
    ADD_FAILURE() << error.what() << ": " << line;
    return json();
  }
}

TEST(JsonLinesTest, EveryControlByteHasItsEscape) {
  for (int byte = 0; byte < 0x80; ++byte) {
    const std::string one(1, static_cast<char>(byte));
    const std::string quoted = JsonString(one);
    std::string expected = one;
    switch (byte) {
      case '"':
        expected = R"(\")";
        break;
      case '\\':
        expected = R"(\\)";
        break;
      case '\b':
        expected = R"(\b)";
        break;
      case '\f':
        expected = R"(\f)";
        break;
      case '\n':
        expected = R"(\n)";
        break;
      case '\r':
        expected = R"(\r)";
        break;
      case '\t':
        expected = R"(\t)";
        break;
      default:
        if (byte < 0x20) {
          constexpr std::string_view kHex = "0123456789abcdef";
          expected = std::string(R"(\u00)") + kHex[byte >> 4] + kHex[byte & 0xF];
        }
    }
    EXPECT_EQ(quoted, "\"" + expected + "\"") << byte;
    EXPECT_EQ(json::parse(quoted).get<std::string>(), one) << byte;
  }
}

// Random bytes, weighted towards what is hard to carry (control bytes, quotes, backslashes,
// UTF-8 of every length and sequences that are not UTF-8): every member a strict parser reads
// back gives the bytes exactly, as text when they are UTF-8 and as base64 when not, at every
// length around base64's groups of three.
TEST(JsonLinesTest, AnyBytesComeBackExactly) {
  // clang-format off
  const std::vector<std::string> pieces = {
      "a", "Z", " ", "\"", "\\", "/", "\n", "\r", "\t", "\x01", "\x1f", "\x7f", "\0"s,
      "\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x98\x80", "\xef\xbf\xbf", "\xff", "\xc3",
      "\xed\xa0\x80", "\xc0\x80", "\xf4\x90\x80\x80",
  };
  // clang-format on
  std::mt19937 random(7);
  for (int round = 0; round < 600; ++round) {
    std::string bytes;
    if (round % 5 == 0) {
      bytes.resize(round % 13);
      for (char& byte : bytes) byte = static_cast<char>(random());
    } else {
      for (int count = random() % 12; count > 0; --count) bytes += pieces[random() % pieces.size()];
    }
    const json data = json::parse(JsonData(bytes));
    EXPECT_EQ(data.contains("text"), IsUtf8(bytes));
    EXPECT_EQ(DataBytes(data), bytes) << data;

    // The same bytes in each place a line carries them.
    const ArticleSnippets snippets{.title = bytes,
                                   .hits = round,
                                   .snippets = {{.text = bytes, .marks = {{0, 1}, {1, 2}}}},
                                   .term_hits = {}};
    const json match = ParsedLine(JsonMatchLine(bytes, bytes + "e", "p" + bytes, &snippets));
    EXPECT_EQ(match.at("type"), "match");
    const json& found = match.at("data");
    EXPECT_EQ(DataBytes(found.at("path")), bytes);
    EXPECT_EQ(DataBytes(found.at("excerpt")), bytes + "e");
    EXPECT_EQ(DataBytes(found.at("page_excerpt")), "p" + bytes);
    EXPECT_EQ(DataBytes(found.at("title")), bytes);
    EXPECT_EQ(found.at("hits"), round);
    ASSERT_EQ(found.at("snippets").size(), 1u);
    json snippet = found.at("snippets")[0];
    EXPECT_EQ(snippet.at("marks"), json::parse(R"([{"start":0,"end":1},{"start":1,"end":2}])"));
    snippet.erase("marks");
    EXPECT_EQ(DataBytes(snippet), bytes);

    const json error = ParsedLine(JsonErrorLine(bytes + "\nline two", -round, bytes));
    EXPECT_EQ(error.at("type"), "error");
    EXPECT_EQ(DataBytes(error.at("data").at("message")), bytes + "\nline two");
    EXPECT_EQ(error.at("data").at("code"), -round);
    if (bytes.empty()) {
      EXPECT_TRUE(error.at("data").at("path").is_null());
    } else {
      EXPECT_EQ(DataBytes(error.at("data").at("path")), bytes);
    }
  }
}

TEST(JsonLinesTest, TheSummaryGivesTimeCountsAndTheIndex) {
  const SearchSummary summary{.phrase = "CAF\xC9",
                              .elapsed = std::chrono::nanoseconds(12'003'456'789),
                              .articles_listed = 40,
                              .articles_opened = 39,
                              .articles_matched = 7,
                              .articles_read = 2,
                              .index_state = "used"};
  const json line = ParsedLine(JsonSummaryLine(summary));
  EXPECT_EQ(line, json::parse(R"({"type":"summary","data":{"phrase":{"bytes":"Q0FGyQ=="},
      "elapsed_total":{"secs":12,"nanos":3456789,"human":"12.003456s"},
      "stats":{"articles_listed":40,"articles_opened":39,"articles_matched":7,"articles_read":2},
      "index":{"state":"used","reason":null}}})"));

  const json not_used = ParsedLine(JsonSummaryLine({.phrase = "", .index_reason = "none \"yet\""}));
  EXPECT_EQ(not_used.at("data").at("index"),
            json::parse(R"({"state":"not used","reason":"none \"yet\""})"));
  EXPECT_EQ(not_used.at("data").at("elapsed_total").at("human"), "0.000000s");
}

// Words, and only words, give the summary their terms and each mark its term.
TEST(JsonLinesTest, WordsGiveTheirTermsAndEachMarkItsTerm) {
  const std::vector<QueryTerm> terms{{"join"}, {"two words"}, {"caf\xE9", true}};
  const json summary = ParsedLine(JsonSummaryLine({.phrase = "JOIN", .terms = &terms}));
  EXPECT_EQ(summary.at("data").at("terms"), json::parse(R"([{"word":{"text":"join"},
      "excluded":false},{"word":{"text":"two words"},"excluded":false},
      {"word":{"bytes":"Y2Fm6Q=="},"excluded":true}])"));
  EXPECT_FALSE(ParsedLine(JsonSummaryLine({.phrase = "JOIN"})).at("data").contains("terms"));

  const ArticleSnippets snippets{
      .title = "t",
      .hits = 2,
      .snippets = {{.text = "join two words", .marks = {{0, 4, 0}, {5, 14, 1}}}},
      .term_hits = {1, 1, 0}};
  const json marks = ParsedLine(JsonMatchLine("p", "e", "e", &snippets, true))
                         .at("data")
                         .at("snippets")[0]
                         .at("marks");
  EXPECT_EQ(marks, json::parse(R"([{"start":0,"end":4,"term":0},{"start":5,"end":14,"term":1}])"));
  const json phrase_marks =
      ParsedLine(JsonMatchLine("p", "e", "e", &snippets)).at("data").at("snippets")[0].at("marks");
  EXPECT_EQ(phrase_marks, json::parse(R"([{"start":0,"end":4},{"start":5,"end":14}])"));
}

}  // namespace
}  // namespace kb::cli
