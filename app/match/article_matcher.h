#pragma once

// Decides whether one article is a result of the query of one phrase, from its bytes fed
// piece by piece in file order, as they are read (app/match/query_matcher.h). An article is a
// result when its region (app/match/article_region.h: the whole page by default) holds the
// phrase, and it holds the marker "<!-- Article starts -->" (byte for byte) or its region
// begins; its excerpt is what follows the first marker (ArticleMarker).
//
// How the phrase is compared is set by MatchSettings. By default it is looked for in the
// article's bytes, the letters a-z matching their capitals. Otherwise the article's bytes pass
// through up to two steps before the phrase is looked for in what comes out: the article's
// text (HtmlText) when the text is matched, then a folding (CaseFolder) when case pairs or
// Unicode folding are set; the phrase is put through the same rules once, at the start. The
// marker and the excerpt are always taken from the article's bytes.
//
// The outcome is the same however the article is cut into pieces: occurrences that span two
// pieces are found, and every byte counts, zero bytes and blanks at piece ends included.
// Memory stays bounded whatever the article's size: only the last bytes of the previous piece
// are kept, as many as an occurrence can span, and what each step holds back.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "app/match/article_region.h"
#include "app/match/case_folder.h"
#include "app/match/html_text.h"
#include "app/match/match_settings.h"
#include "app/match/phrase_finder.h"
#include "app/match/query_matcher.h"

namespace kb {

class ArticleMatcher final : public QueryMatcher {
 public:
  // `phrase` as the user gave it; trailing blanks are part of it. An empty phrase matches
  // nothing, and so does one that the settings' rules leave empty (a lone accent when accents
  // are ignored). With StreamSearch::Count::kAll, the matcher also counts the article's hits
  // (see hits()), and so needs every byte of it.
  explicit ArticleMatcher(std::string_view phrase, const MatchSettings& settings = {},
                          StreamSearch::Count hits = StreamSearch::Count::kFirstOnly);

  // Forgets the previous article.
  void StartArticle() override;

  // The next bytes of the article.
  void Feed(std::string_view piece) override;

  // The article has ended. Unless the settings are the plain byte search, the steps may hold
  // back the last few bytes (a reference without its ";", a cut UTF-8 sequence) in case more
  // follows; this looks at them.
  void FinishArticle() override;

  bool phrase_found() const { return phrase_.found(); }
  bool marker_found() const { return marker_.found(); }
  bool is_result() const override { return phrase_found() && marker_found(); }
  // When the matcher counts hits, once the article has ended: the occurrences of the phrase
  // that do not overlap, from left to right, in the view the settings search (the bytes, or
  // the text, folded as they say).
  uint64_t hits() const override { return phrase_.count(); }
  std::span<const uint64_t> term_hits() const override { return {&term_hits_, 1}; }
  bool counts_hits() const override { return counts_hits_; }
  uint64_t length() const override { return text_ ? text_length_ : region_length_; }
  // Where the first of those hits start in the article's bytes (StreamSearch::first_starts),
  // when the matcher counts them in the bytes themselves (searches_bytes()); else none.
  std::span<const uint64_t> hit_starts() const override {
    return counts_hits_ && searches_bytes() && region_.whole_page() ? phrase_.first_starts()
                                                                    : std::span<const uint64_t>();
  }

  // At most kExcerptLength bytes that follow the first marker, without trailing blanks.
  std::string_view excerpt() const override { return marker_.excerpt(); }

  // True when no further byte can change the outcome or the excerpt, so the rest of the
  // article need not be read.
  bool settled() const override;

  std::string_view byte_phrase() const override {
    return searches_bytes() && region_.whole_page() ? sought_phrase() : std::string_view();
  }

  // True for the plain byte search: the phrase is looked for in the article's bytes as they
  // are, with no text step and no folding, so that what a stretch of bytes holds does not
  // depend on the bytes before it.
  bool searches_bytes() const { return !text_ && !folder_; }
  std::vector<std::string_view> byte_terms() const override {
    if (byte_phrase().empty()) return {};
    return {byte_phrase()};
  }
  // The phrase as it is looked for, put through the settings' rules (compared with a-z
  // matching A-Z).
  std::string_view sought_phrase() const { return sought_; }

 private:
  // The phrase as it is looked for: put through the rules of `settings`.
  static std::string SoughtPhrase(std::string_view phrase, const MatchSettings& settings);

  // Passes `piece` through the steps and looks for the phrase in what comes out.
  void SearchPhrase(std::string_view piece);

  std::string sought_;
  std::optional<HtmlText> text_;      // when the text is matched
  uint64_t text_length_ = 0;          // the bytes text_ gave for the article so far
  std::optional<CaseFolder> folder_;  // when the folding can matter for the phrase
  bool counts_hits_;
  StreamSearch phrase_;
  ArticleRegion region_;
  uint64_t region_length_ = 0;  // the bytes region_ gave for the article so far
  ArticleMarker marker_;
  uint64_t term_hits_ = 0;  // hits(), once the article has ended
};

}  // namespace kb
