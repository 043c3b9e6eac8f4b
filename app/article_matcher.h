#pragma once

// Decides whether one article is a search result, from its bytes fed piece by piece in file
// order, as they are read. An article is a result when it holds the phrase and the marker
// "<!-- Article starts -->" (byte for byte); its excerpt is what follows the first marker.
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
#include <string>
#include <string_view>

#include "app/case_folder.h"
#include "app/html_text.h"
#include "app/match_settings.h"
#include "app/phrase_finder.h"

namespace kb {

inline constexpr std::string_view kArticleMarker = "<!-- Article starts -->";
// The longest excerpt taken after the marker.
inline constexpr std::size_t kExcerptLength = 201;

class ArticleMatcher {
 public:
  // `phrase` as the user gave it; trailing blanks are part of it. An empty phrase matches
  // nothing, and so does one that the settings' rules leave empty (a lone accent when accents
  // are ignored).
  explicit ArticleMatcher(std::string_view phrase, const MatchSettings& settings = {});

  // Forgets the previous article.
  void StartArticle();

  // The next bytes of the article.
  void Feed(std::string_view piece);

  // The article has ended. Unless the settings are the plain byte search, the steps may hold
  // back the last few bytes (a reference without its ";", a cut UTF-8 sequence) in case more
  // follows; this looks at them.
  void FinishArticle();

  bool phrase_found() const { return phrase_.found(); }
  bool marker_found() const { return marker_.found(); }
  bool is_result() const { return phrase_found() && marker_found(); }

  // At most kExcerptLength bytes that follow the first marker, without trailing blanks.
  std::string_view excerpt() const;

  // True when no further byte can change the outcome or the excerpt, so the rest of the
  // article need not be read.
  bool settled() const;

 private:
  // The first occurrence of one phrase in a stream of pieces.
  class StreamSearch {
   public:
    StreamSearch(std::string_view phrase, PhraseFinder::Case mode);
    void Restart();
    void Feed(std::string_view piece);
    bool found() const { return position_ != kNotFound; }
    // 0-based offset of the first occurrence in the stream.
    uint64_t position() const { return position_; }
    bool can_match() const { return finder_.size() > 0; }
    // Bytes of the stream fed so far.
    uint64_t fed() const { return fed_; }

   private:
    static constexpr uint64_t kNotFound = UINT64_MAX;

    PhraseFinder finder_;
    std::string tail_;  // the last size() - 1 bytes of the stream so far
    std::string seam_;  // tail_ and the start of the next piece
    uint64_t fed_ = 0;
    uint64_t position_ = kNotFound;
  };

  // The phrase as it is looked for: put through the rules of `settings`.
  static std::string SoughtPhrase(std::string_view phrase, const MatchSettings& settings);

  // Passes `piece` through the steps and looks for the phrase in what comes out.
  void SearchPhrase(std::string_view piece);
  void CollectExcerpt(std::string_view piece, uint64_t piece_start);

  std::optional<HtmlText> text_;      // when the text is matched
  std::optional<CaseFolder> folder_;  // when the folding can matter for the phrase
  StreamSearch phrase_;
  StreamSearch marker_;
  std::string excerpt_;
};

}  // namespace kb
