#include "app/match/article_snippets.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "app/base/knowledge_base.h"
#include "app/match/article_matcher.h"
#include "app/match/article_region.h"
#include "app/match/html_resume.h"
#include "app/match/html_text.h"
#include "app/match/passage_link.h"
#include "support/text/ascii.h"
#include "support/text/utf8.h"

namespace kb {
namespace {

// The bytes either side of a hit that a snippet may need: kLongestSnippet characters of up
// to four bytes.
constexpr std::size_t kContextBytes = 4 * kLongestSnippet;
// How much more of a folded view is made each time a search for the phrase runs out of it.
constexpr std::size_t kFoldedStretch = 64 * 1024;
// The most of the article the reader is given at once: its room is twice that, however long
// the article.
constexpr std::size_t kTextStep = 64 * 1024;
// How much of the article a text search whose hits are counted makes the text of first, for
// its snippets; then twice as much each time, until the snippets are sure.
constexpr std::size_t kFirstTextStep = 1024;
// How much of the article the snippets of words whose hits are counted make the text of first;
// then twice as much each time, until their passages are sure.
constexpr std::size_t kFirstWordsTextStep = 64 * 1024;
// How far past the bytes read a hit that may show must lie for the reading to resume shortly
// before it, rather than go on; and how far before it the reading resumes.
constexpr std::size_t kResumeGap = 8192;
constexpr std::size_t kResumeBack = 4096;
// How much of the article is extracted at a time past a hit shown, for the text after it.
constexpr std::size_t kTextAfterStep = 512;
// The characters either side of a hit that its snippet depends on: as many as the snippet
// reaches (its length, a cut moved to a blank) and two more, of which one is not a blank, so
// that text cut off beyond the snippet is seen. A resumed reading must make as many before a
// hit, and text past it is made as far; Cut then makes the snippet that the whole text gives.
constexpr std::size_t kSnippetReach = kSnippetLength + kCutReach + 2;
// The characters after a hit that its snippet depends on when the text before it holds at
// least kHalfSnippet: Cut then gives the hit that much room on each side at most.
constexpr std::size_t kHalfSnippet = (kSnippetLength + 1) / 2;
constexpr std::size_t kHalfSnippetReach = kHalfSnippet + kCutReach + 2;
// How many hits of each term of words are weighed for the snippets at most: the first ones.
constexpr std::size_t kMostWordHitsWeighed = 4096;
// How far from the end of the text made so far the text to come may change an occurrence:
// more than a phrase of 100 characters of four bytes, folded.
constexpr std::size_t kUnsureBytes = 4096;

bool IsBlank(char byte) {
  return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\r' || byte == '\f';
}

bool HasNonBlank(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char byte) { return !IsBlank(byte); });
}

// The length of the character at the start of `bytes` (not empty): a valid UTF-8 sequence,
// or 1 for any other byte.
std::size_t CharacterLength(std::string_view bytes) {
  const int length = DecodeUtf8(bytes).length;
  return length > 0 ? static_cast<std::size_t>(length) : 1;
}

// The first ASCII byte of `text` at or after `at`, or its size: a character boundary however
// the text before it is cut into characters, as no character holds an ASCII byte in part.
std::size_t NextAsciiByte(std::string_view text, std::size_t at) {
  while (at < text.size() && static_cast<unsigned char>(text[at]) >= 0x80) ++at;
  return at;
}

// Whether `text`, which starts at a character boundary, holds at least `count` characters that
// end before its last ASCII byte: characters that what may follow it cannot change.
bool HasCharacters(std::string_view text, std::size_t count) {
  std::size_t last_ascii = text.size();
  while (last_ascii > 0 && static_cast<unsigned char>(text[last_ascii - 1]) >= 0x80) --last_ascii;
  if (last_ascii == 0) return count == 0;
  std::size_t characters = 0;
  for (std::size_t at = 0; at < last_ascii - 1 && characters < count; ++characters) {
    at += CharacterLength(text.substr(at, last_ascii - 1 - at));
  }
  return characters >= count;
}

// Whether `text` holds `count` whole characters before `at` from `from` on, an ASCII byte or
// a character boundary. A character that `at` cuts (a byte hit may start inside one) counts
// not: Cut rounds the hit out to whole characters. Each is decoded as far as the text goes,
// as Cut decodes it, not only as far as `at`, where its cut bytes would count one each.
bool HasCharactersBefore(std::string_view text, std::size_t from, std::size_t at,
                         std::size_t count) {
  std::size_t characters = 0;
  for (; from < at && characters < count; ++characters) {
    from += CharacterLength(text.substr(from));
  }
  return characters >= count && from <= at;
}

// Whether `byte` starts a character: no UTF-8 continuation byte. A character holds one such
// byte at most (an invalid sequence is a character of one byte each), so a stretch holds at
// least as many characters as it holds such bytes.
bool MayStartCharacter(char byte) {
  return (static_cast<unsigned char>(byte) & 0xC0) != 0x80;
}

// The text of the element that `open` finds the start of (such as "<title", in any case),
// from the first such tag to its end tag, which `close` finds; empty when there is none or
// it is never closed.
std::string ElementText(std::string_view article, const PhraseFinder& open,
                        const PhraseFinder& close) {
  std::size_t from = 0;
  while (true) {
    const std::size_t found = open.Find(article.substr(from));
    if (found == PhraseFinder::npos) return "";
    const std::size_t after = from + found + open.size();
    from = after;
    if (after < article.size() && (article[after] == '>' || IsBlank(article[after]))) break;
  }
  const std::size_t content = article.find('>', from);
  if (content == std::string_view::npos) return "";
  const std::string_view rest = article.substr(content + 1);
  const std::size_t end = close.Find(rest);
  if (end == PhraseFinder::npos) return "";
  HtmlText reader;
  std::string text(reader.Extract(rest.substr(0, end)));
  text.append(reader.Finish());
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// The hits of a byte search in an article, found one after another as they are asked for:
// the snippets seldom need more than the first few.
class ByteHits {
 public:
  // `total`: how many the article holds, when that is known already; `first_starts`: where
  // the first of them start, when those are known.
  ByteHits(std::string_view article, const PhraseFinder& finder, std::optional<int64_t> total,
           std::span<const uint64_t> first_starts)
      : article_(article), finder_(finder), total_(total) {
    for (const uint64_t start : first_starts) {
      if (start + finder_.size() > article_.size()) break;  // past a kept start of the article
      const auto at = static_cast<std::size_t>(start);
      found_.push_back({at, at + finder_.size()});
      from_ = at + finder_.size();
    }
  }
  // Hits found already, all of them.
  ByteHits(std::vector<TextSpan> all, const PhraseFinder& finder)
      : finder_(finder), found_(std::move(all)), ended_(true) {}

  // Hit `index`, or none when the article holds fewer; asked for in increasing order.
  std::optional<TextSpan> operator[](std::size_t index) {
    return Before(index, std::string_view::npos);
  }

  // Hit `index` when it starts before `limit`, else none: the article is searched only so far.
  std::optional<TextSpan> Before(std::size_t index, std::size_t limit) {
    while (found_.size() <= index && !AllFound() && from_ < limit) {
      // Every occurrence that starts before `limit`, and no further.
      const std::size_t end = limit >= article_.size()
                                  ? article_.size()
                                  : std::min(article_.size(), limit + finder_.size() - 1);
      const std::size_t at = finder_.size() == 0
                                 ? PhraseFinder::npos
                                 : finder_.Find(article_.substr(from_, end - from_));
      if (at == PhraseFinder::npos) {
        from_ = std::min(limit, article_.size());
        ended_ = from_ == article_.size() || finder_.size() == 0;
        break;
      }
      found_.push_back({from_ + at, from_ + at + finder_.size()});
      from_ += at + finder_.size();
    }
    if (index < found_.size() && found_[index].start < limit) return found_[index];
    return std::nullopt;
  }

  // All the hits: the article searched to its end.
  int64_t Count() {
    while ((*this)[found_.size()]) {
    }
    return static_cast<int64_t>(found_.size());
  }

 private:
  // Whether no hit is left to find: the article was searched to its end, or as many were
  // found as it holds.
  bool AllFound() const {
    return ended_ || (total_ && static_cast<int64_t>(found_.size()) >= *total_);
  }

  std::string_view article_;
  const PhraseFinder& finder_;
  std::optional<int64_t> total_;
  std::vector<TextSpan> found_;
  std::size_t from_ = 0;  // where the next hit is looked for: none starts before
  bool ended_ = false;
};

// Whether markup holds all of `hit` for certain, as a reader from the article's start would
// find: a "<" and an ASCII letter lie before it, with no ">" from there to its end. Whatever
// the reader's state before that "<", it is then in markup up to a ">" (a tag, a comment, a
// declaration, a script or a value in quotes). Looks back only so far.
bool WhollyInsideMarkup(std::string_view article, TextSpan hit) {
  constexpr std::size_t kLookBack = 4096;
  const std::size_t earliest = hit.start > kLookBack ? hit.start - kLookBack : 0;
  for (std::size_t at = hit.end; at > earliest;) {
    --at;
    if (article[at] == '>') return false;
    if (article[at] == '<' && at < hit.start && IsAsciiLetter(article[at + 1])) return true;
  }
  return false;
}

// The text `reader` makes of the article's bytes from `from` to `until`, fed a step at a time
// (a resumed reading's trial, before it is known to be kept).
std::string TextOfStretch(std::string_view article, std::size_t from, std::size_t until,
                          HtmlText& reader) {
  std::string made;
  for (std::size_t at = from; at < until;) {
    const std::size_t piece = std::min(kTextStep, until - at);
    made.append(reader.Extract(article.substr(at, piece)));
    at += piece;
  }
  return made;
}

// The text of an article for a byte search, extracted as far as the snippets need it, with
// where each hit (a stretch of the article's bytes) lies in it when the text holds it as it
// is. The reader is fed the article cut at every hit's ends, so that what a hit's own bytes
// give can be compared with them.
//
// A hit that markup holds for certain (WhollyInsideMarkup) is placed without reading up to
// it. Far past the bytes read so far, the reading resumes shortly before the next hit that
// may show (TextResumer), when the text made from there holds enough before the hit for its
// snippet to be the one the whole text would give: the snippets of a byte search are mostly
// near the end of long articles whose earlier hits sit in links and attributes.
class TextOfBytes {
 public:
  TextOfBytes(std::string_view article, ByteHits& hits)
      : article_(article), hits_(hits), resumer_(article) {}

  // Where a hit lies for the reader.
  struct HitPlace {
    enum class Kind {
      kText,          // the hit's bytes come out as they are, at `span` of the text
      kAcross,        // some of them come out, not all as they are: it spans markup
      kInsideMarkup,  // none come out: a comment, a tag, a script holds it whole
    };
    Kind kind = Kind::kInsideMarkup;
    TextSpan span;
  };

  // Tells where hit `index` (one the article holds) lies, extracting the text as far as its
  // end when markup does not hold it for certain. Asked for in increasing order.
  HitPlace PlaceOfHit(std::size_t index) {
    if (index < places_.size()) return places_[index];
    const TextSpan hit = *hits_[index];
    if (WhollyInsideMarkup(article_, hit)) return {};
    ResumeBefore(index);
    FeedTo(hit.end);
    return places_[index];
  }

  // Extracts the text past `at` as far as a snippet of a hit that ends there may reach:
  // kContextBytes, or `characters` characters (see kSnippetReach), or the article's end.
  void ExtendPast(std::size_t at, std::size_t characters) {
    while (fed_ < article_.size() && text_.size() <= at + kContextBytes) {
      const std::size_t exact = NextAsciiByte(text_, at);  // the characters are counted from there
      // A character takes a byte at least: fewer bytes need no counting.
      if (text_.size() - exact > characters &&
          HasCharacters(std::string_view(text_).substr(exact), characters)) {
        return;
      }
      FeedTo(std::min(article_.size(), fed_ + kTextAfterStep));
    }
    if (fed_ == article_.size() && !finished_) {
      text_.append(reader_.Finish());
      finished_ = true;
    }
  }

  std::string_view text() const { return text_; }
  // Where the text is the article's own from, for certain: a snippet reaches no further back.
  std::size_t exact_from() const { return exact_from_; }

 private:
  // Resumes the reading shortly before hit `index` when that is worth it and sure, passing
  // over what lies between (hits that markup holds for certain, or none).
  void ResumeBefore(std::size_t index) {
    const TextSpan hit = *hits_[index];
    if (hit.start < fed_ + kResumeGap) return;
    HtmlText reader;
    const std::optional<std::size_t> resumed =
        resumer_.Resume(hit.start - kResumeBack, hit.start, reader);
    if (!resumed) return;
    const std::string made = TextOfStretch(article_, *resumed, hit.start, reader);
    // From its first ASCII byte, which no character holds in part, the text is cut into
    // characters as the whole text is.
    const std::size_t exact = NextAsciiByte(made, 0);
    if (!HasCharacters(std::string_view(made).substr(exact), kSnippetReach)) return;
    while (places_.size() < index) places_.push_back({});  // held by markup for certain
    next_ = index;
    exact_from_ = text_.size() + exact;
    text_.append(made);
    reader_ = std::move(reader);
    fed_ = hit.start;
  }

  // Feeds the article up to `target`, cutting at every hit's start and end on the way.
  void FeedTo(std::size_t target) {
    while (fed_ < target) {
      // In steps, so that the reader's room stays small however far the next hit.
      std::size_t until = std::min(target, fed_ + kTextStep);
      const std::optional<TextSpan> next_hit = hits_.Before(next_, until);
      if (next_hit && fed_ == next_hit->start) {
        const TextSpan hit = *next_hit;
        const std::string_view bytes = article_.substr(hit.start, hit.end - hit.start);
        const std::size_t start = text_.size();
        const std::string_view out = reader_.Extract(bytes);
        using Kind = HitPlace::Kind;
        const Kind kind = out == bytes  ? Kind::kText
                          : out.empty() ? Kind::kInsideMarkup
                                        : Kind::kAcross;
        places_.push_back({kind, {start, start + out.size()}});
        text_.append(out);
        fed_ = hit.end;
        ++next_;
        continue;
      }
      if (next_hit) until = std::min(until, next_hit->start);
      text_.append(reader_.Extract(article_.substr(fed_, until - fed_)));
      fed_ = until;
    }
  }

  std::string_view article_;
  ByteHits& hits_;
  TextResumer resumer_;
  HtmlText reader_;
  std::string text_;
  std::size_t exact_from_ = 0;
  std::size_t fed_ = 0;
  std::size_t next_ = 0;          // the first hit not fed yet
  std::vector<HitPlace> places_;  // of the hits fed, and of those passed over in markup
  bool finished_ = false;
};

// The text of a long article around the hits of words that its scan counted in its bytes,
// where every one of them starts being known (WordsMatcher::hit_starts): windows of the text,
// joined by a line break. A window is the whole text's own, from kWindowReach of text before
// the first hit it holds to as much after the last. Between hits further apart than
// kWordsResumeGap the reading resumes shortly before the next (TextResumer), when the text
// made from there holds that much before it; else it goes on.
//
// The hits weighed are those that lie kWeighedInset inside a window (or nearer the article's
// own start or end): no word that a resumed reading starts, or that a window's end cuts, lies
// there, and each snippet's context is all there. Each hit counted then lies far enough inside
// for its passage to be weighed with every hit the whole text has near it.
struct WindowedText {
  std::string text;
  std::vector<TextSpan> weighed;  // the stretches of `text` whose hits are weighed, in order
};

// A resumed reading's first characters may differ from the whole text's, and a window's end
// may cut a term: no more than a term's bytes at either end.
constexpr std::size_t kWindowEdge = kMaxSearchTextBytes;
constexpr std::size_t kWeighedInset = kWindowEdge + kContextBytes;
// A passage holds the hits within half a snippet of its hit (ChosenPassages).
constexpr std::size_t kWindowReach = kWeighedInset + kSnippetLength / 2 + kMaxSearchTextBytes;
// Past the last hit's start, its end.
constexpr std::size_t kLongestTermBytes = kMaxSearchTextBytes;
constexpr std::size_t kWordsResumeGap = 32 * 1024;
constexpr std::size_t kWordsResumeBack = 16 * 1024;

WindowedText TextAroundHits(std::string_view article, std::span<const uint64_t> starts,
                            TextOrigins& origins) {
  WindowedText made;
  TextResumer resumer(article);
  std::size_t window_start = 0;
  bool resumed_window = false;
  const auto close_window = [&] {
    const std::size_t end = made.text.size();
    const std::size_t weighed_start = window_start + (resumed_window ? kWeighedInset : 0);
    const std::size_t inset = origins.fed() == article.size() ? 0 : kWeighedInset;
    if (weighed_start + inset < end) made.weighed.push_back({weighed_start, end - inset});
  };
  for (std::size_t index = 0; index < starts.size();) {
    const auto first = static_cast<std::size_t>(starts[index]);
    std::size_t last = first;
    while (++index < starts.size() && starts[index] < last + kWordsResumeGap) {
      last = static_cast<std::size_t>(starts[index]);
    }
    if (first >= origins.fed() + kWordsResumeGap) {
      HtmlText reader;
      if (const std::optional<std::size_t> resumed =
              resumer.Resume(first - kWordsResumeBack, first, reader)) {
        HtmlText trial = reader;
        const std::string before = TextOfStretch(article, *resumed, first, trial);
        if (before.size() - NextAsciiByte(before, 0) >= kWindowReach) {
          close_window();
          made.text.push_back('\n');
          window_start = made.text.size();
          resumed_window = true;
          // The text made to try the resumed reading starts the window: not made again.
          origins.ResumeAt(*resumed, reader, made.text.size());
          made.text.append(before);
          origins.ResumeAt(first, trial, made.text.size());
        }
      }
    }
    origins.AppendText(last + kLongestTermBytes, made.text);
    const std::size_t hits_end = made.text.size();
    while (origins.fed() < article.size() && made.text.size() < hits_end + kWindowReach) {
      origins.AppendText(origins.fed() + TextOrigins::kOriginStep, made.text);
    }
  }
  close_window();
  return made;
}

// The hits of words whose passages are shown, at most kMostSnippets of them, in the order of
// the text: those whose passage (the hits within half a snippet of it either side) holds the
// most of the terms, the earliest first among equals, each further than that from the others.
// `least_score`: how many terms the poorest of them holds.
std::vector<std::size_t> ChosenPassages(const std::vector<WordHit>& hits, std::size_t terms,
                                        std::size_t& least_score) {
  constexpr uint64_t kReach = kSnippetLength / 2;
  std::vector<std::size_t> held(terms, 0);
  std::vector<std::size_t> score(hits.size(), 0);
  std::size_t distinct = 0;
  for (std::size_t at = 0, low = 0, high = 0; at < hits.size(); ++at) {
    for (; high < hits.size() && hits[high].start <= hits[at].end + kReach; ++high) {
      distinct += held[hits[high].term]++ == 0;
    }
    for (; hits[low].start + kReach < hits[at].start; ++low) {
      distinct -= --held[hits[low].term] == 0;
    }
    score[at] = distinct;
  }
  std::vector<std::size_t> order(hits.size());
  for (std::size_t at = 0; at < order.size(); ++at) order[at] = at;
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return score[a] > score[b]; });
  std::vector<std::size_t> chosen;
  least_score = 0;
  for (const std::size_t at : order) {
    if (chosen.size() == kMostSnippets) break;
    const bool apart = std::all_of(chosen.begin(), chosen.end(), [&](std::size_t other) {
      const uint64_t a = hits[at].start;
      const uint64_t b = hits[other].start;
      return (a > b ? a - b : b - a) > kReach;
    });
    if (!apart) continue;
    chosen.push_back(at);
    least_score = score[at];
  }
  std::sort(chosen.begin(), chosen.end());
  return chosen;
}

}  // namespace

SnippetMaker::SnippetMaker(std::string_view phrase, const MatchSettings& settings)
    : settings_(settings),
      sought_(ArticleMatcher(phrase, settings).sought_phrase()),
      finder_(sought_, PhraseFinder::Case::kFolded),
      title_terms_{.kind = QueryKind::kWords,
                   .text = std::string(phrase),
                   .terms = {{std::string(phrase)}}} {
  if (settings.folds_unicode() || settings.has_case_pairs()) {
    folds_ = CaseFolder(settings).MatterFor(sought_);
  }
}

SnippetMaker::SnippetMaker(const Query& query, const MatchSettings& settings)
    : SnippetMaker(query.text, settings) {
  if (query.is_words()) {
    words_ = query;
    title_terms_ = query;
  }
}

bool SnippetMaker::TitleHoldsTerms(std::string_view title) const {
  // The title is text, its white space collapsed: the terms are compared as a text search's.
  MatchSettings of_text = settings_;
  of_text.mode = MatchMode::kText;
  std::vector<char> held(title_terms_.terms.size(), 0);
  for (const WordHit& hit : WordsMatcher::HitsIn(title_terms_, of_text, title)) held[hit.term] = 1;
  for (std::size_t term = 0; term < held.size(); ++term) {
    if (!title_terms_.terms[term].excluded && !held[term]) return false;
  }
  return true;
}

std::string SnippetMaker::Title(std::string_view article) {
  // Made once: every article found asks for its title.
  static const PhraseFinder title("<title", PhraseFinder::Case::kFolded);
  static const PhraseFinder title_end("</title", PhraseFinder::Case::kFolded);
  static const PhraseFinder heading("<h1", PhraseFinder::Case::kFolded);
  static const PhraseFinder heading_end("</h1", PhraseFinder::Case::kFolded);
  std::string text = ElementText(article, title, title_end);
  if (text.empty()) text = ElementText(article, heading, heading_end);
  return text;
}

std::vector<TextSpan> SnippetMaker::Occurrences(std::string_view view) const {
  std::vector<TextSpan> spans;
  if (finder_.size() == 0) return spans;
  if (!folds_) {
    for (std::size_t from = 0;;) {
      const std::size_t found = finder_.Find(view.substr(from));
      if (found == PhraseFinder::npos) break;
      spans.push_back({from + found, from + found + finder_.size()});
      from += found + finder_.size();
    }
    return spans;
  }

  // The folded view, character by character, with where each of its bytes came from, so
  // that an occurrence in it covers the characters of the view that folded into it. Only a
  // stretch of it is held at a time, not the whole view: a position per folded byte is eight
  // times the bytes themselves, and a view may be a kept copy of many megabytes.
  CaseFolder folder(settings_);
  const bool unicode = settings_.folds_unicode();
  std::string folded;               // the stretch of the folded view still wanted
  std::vector<std::size_t> origin;  // where in the view each byte of `folded` came from
  std::size_t at = 0;               // the first character of the view not folded yet
  auto fold_more = [&] {
    const std::size_t enough = folded.size() + kFoldedStretch;
    while (at < view.size() && folded.size() < enough) {
      const std::size_t length = unicode ? CharacterLength(view.substr(at)) : 1;
      const std::string_view character = view.substr(at, length);
      // A byte that is no valid sequence stays as it is, and is not handed to the folder,
      // which would hold it back for a sequence that never comes.
      const bool valid = !unicode || length > 1 || static_cast<unsigned char>(view[at]) < 0x80;
      const std::string_view out = valid ? folder.Fold(character) : character;
      folded.append(out);
      origin.insert(origin.end(), out.size(), at);
      at += length;
    }
  };
  fold_more();
  for (std::size_t from = 0;;) {
    const std::size_t found = finder_.Find(std::string_view(folded).substr(from));
    const bool whole = at == view.size();  // `folded` ends where the view does
    if (found != PhraseFinder::npos) {
      const std::size_t start = from + found;
      const std::size_t end = start + finder_.size();
      // The occurrence ends where the next character that gave the folded text something
      // begins, so that characters folded into nothing (a combining accent) stay with it.
      std::size_t next = end;
      while (next < folded.size() && origin[next] == origin[end - 1]) ++next;
      if (next < folded.size() || whole) {
        spans.push_back({origin[start], next < folded.size() ? origin[next] : view.size()});
        from = end;
        continue;
      }
      from = start;  // its end is not known until more of the view is folded
    } else if (whole) {
      break;
    } else if (folded.size() - from >= finder_.size()) {
      // No occurrence starts before the last bytes, too few for one to fit in.
      from = folded.size() - (finder_.size() - 1);
    }
    folded.erase(0, from);
    origin.erase(origin.begin(), origin.begin() + static_cast<std::ptrdiff_t>(from));
    from = 0;
    fold_more();
  }
  return spans;
}

Snippet SnippetMaker::Cut(std::string_view text, TextSpan hit, std::size_t not_before,
                          TextSpan& taken, const std::vector<WordHit>* word_hits) const {
  // A window around the hit whose ends fall on character boundaries: at an ASCII byte, which
  // no sequence holds, or at an end of the text.
  std::size_t window_start = hit.start > kContextBytes ? hit.start - kContextBytes : 0;
  while (window_start > 0 && static_cast<unsigned char>(text[window_start]) >= 0x80) {
    --window_start;
  }
  window_start = std::max(window_start, not_before);
  std::size_t window_end = NextAsciiByte(text, std::min(text.size(), hit.end + kContextBytes));
  // The snippet and its ellipses depend on kSnippetReach characters either side of the hit
  // alone (and on the hit's own characters, which its ends may cut): the window is narrowed to
  // as many bytes that may start a character, from an ASCII byte. Only where it does not reach
  // an end of the text: otherwise whether an ellipsis goes there depends on what lies between,
  // which may be blanks alone (in the bytes of an article).
  if (window_start > 0) {
    std::size_t at = hit.start;
    for (std::size_t starting = 0; at > window_start && starting <= kSnippetReach;) {
      if (MayStartCharacter(text[--at])) ++starting;
    }
    while (at > window_start && static_cast<unsigned char>(text[at]) >= 0x80) --at;
    window_start = at;
  }
  if (window_end < text.size()) {
    std::size_t at = hit.end;
    for (std::size_t starting = 0; at < window_end; ++at) {
      if (MayStartCharacter(text[at]) && ++starting > kSnippetReach + 1) break;
    }
    window_end = NextAsciiByte(text, at);
  }
  std::vector<std::size_t> starts;  // where each character of the window starts, and its end
  starts.reserve(window_end - window_start + 1);
  for (std::size_t at = window_start; at < window_end;) {
    starts.push_back(at);
    at += CharacterLength(text.substr(at, window_end - at));
  }
  starts.push_back(window_end);
  const std::size_t characters = starts.size() - 1;

  // The hit as characters [first, last), its bytes rounded out to whole characters.
  const std::size_t first =
      static_cast<std::size_t>(std::upper_bound(starts.begin(), starts.end(), hit.start) -
                               starts.begin()) -
      1;
  const std::size_t last = static_cast<std::size_t>(
      std::lower_bound(starts.begin(), starts.end(), hit.end) - starts.begin());
  const std::size_t hit_length = last - first;
  const std::size_t room = kSnippetLength > hit_length ? kSnippetLength - hit_length : 0;
  std::size_t before = room / 2;
  std::size_t after = room - before;
  const std::size_t room_before = first;
  const std::size_t room_after = characters - last;
  if (before > room_before) {
    after += before - room_before;
    before = room_before;
  }
  if (after > room_after) {
    before = std::min(room_before, before + after - room_after);
    after = room_after;
  }
  const auto blank_at = [&](std::size_t index) {
    return starts[index + 1] - starts[index] == 1 && IsBlank(text[starts[index]]);
  };

  // Each cut moves to the nearest blank within reach, never into the hit; the blank itself
  // is left out.
  std::size_t start = first - before;
  if (start > 0) {
    for (std::size_t distance = 0; distance <= kCutReach; ++distance) {
      if (start >= distance && blank_at(start - distance)) {
        start = start - distance + 1;
        break;
      }
      if (start + distance < first && blank_at(start + distance)) {
        start = start + distance + 1;
        break;
      }
    }
  }
  std::size_t end = last + after;
  if (end < characters) {
    for (std::size_t distance = 0; distance <= kCutReach; ++distance) {
      if (end + distance < characters && blank_at(end + distance)) {
        end += distance;
        break;
      }
      if (end >= last + distance + 1 && blank_at(end - distance - 1)) {
        end -= distance + 1;
        break;
      }
    }
  }
  while (start < first && blank_at(start)) ++start;
  while (end > last && blank_at(end - 1)) --end;

  taken = {starts[start], starts[end]};
  const bool cut_before =
      window_start > 0 || HasNonBlank(text.substr(window_start, taken.start - window_start));
  const bool cut_after =
      window_end < text.size() || HasNonBlank(text.substr(taken.end, window_end - taken.end));
  const std::string_view content = text.substr(taken.start, taken.end - taken.start);

  Snippet snippet;
  if (cut_before) snippet.text = kEllipsis;
  const std::size_t offset = snippet.text.size();
  snippet.text.append(content);
  if (cut_after) snippet.text.append(kEllipsis);

  // The stretches to mark in `content`, with their terms.
  std::vector<std::pair<TextSpan, std::size_t>> marked;
  if (word_hits == nullptr) {
    for (const TextSpan found : Occurrences(content)) marked.push_back({found, 0});
  } else {
    for (const WordHit& found : *word_hits) {
      if (found.end <= taken.start || found.start >= taken.end) continue;
      const std::size_t start = std::max<std::size_t>(found.start, taken.start) - taken.start;
      const std::size_t end = std::min<std::size_t>(found.end, taken.end) - taken.start;
      marked.push_back({{start, end}, found.term});
    }
  }
  for (auto [mark, term] : marked) {
    // Whole characters only, even for a phrase that begins or ends inside one.
    mark.start = *(std::upper_bound(starts.begin() + static_cast<std::ptrdiff_t>(start),
                                    starts.begin() + static_cast<std::ptrdiff_t>(end),
                                    taken.start + mark.start) -
                   1) -
                 taken.start;
    mark.end = *std::lower_bound(starts.begin() + static_cast<std::ptrdiff_t>(start),
                                 starts.begin() + static_cast<std::ptrdiff_t>(end + 1),
                                 taken.start + mark.end) -
               taken.start;
    if (!snippet.marks.empty() && snippet.marks.back().end > offset + mark.start) {
      snippet.marks.back().end = offset + mark.end;
    } else {
      snippet.marks.push_back({offset + mark.start, offset + mark.end, term});
    }
  }
  return snippet;
}

ArticleSnippets SnippetMaker::Make(std::string_view article) const {
  return MakeOfRegion(article, std::nullopt, {}, {});
}

ArticleSnippets SnippetMaker::Make(std::string_view article, int64_t hits,
                                   std::span<const uint64_t> first_starts,
                                   std::span<const uint64_t> term_hits) const {
  return MakeOfRegion(article, hits, first_starts, term_hits);
}

ArticleSnippets SnippetMaker::MakeOfRegion(std::string_view article, std::optional<int64_t> hits,
                                           std::span<const uint64_t> first_starts,
                                           std::span<const uint64_t> term_hits) const {
  // The snippets come from the region alone; the title from the whole page, whose head holds
  // it. The hits were counted in the region, so where they start in the page is not known.
  std::optional<std::string> region;
  std::string_view searched = article;
  if (!settings_.searches_whole_page()) {
    region = RegionOf(article, settings_.article, settings_.mode == MatchMode::kText);
    searched = region ? std::string_view(*region) : std::string_view();
    first_starts = {};
  }
  ArticleSnippets made = words_ ? MakeOfWords(searched, hits, term_hits, first_starts)
                         : settings_.mode == MatchMode::kText
                             ? MakeOfText(searched, hits)
                             : MakeOfBytes(searched, hits, first_starts);
  if (region) made.title = Title(article);
  if (!words_) made.term_hits = {made.hits};
  made.title_holds_terms = TitleHoldsTerms(made.title);
  return made;
}

ArticleSnippets SnippetMaker::MakeOfWords(std::string_view article, std::optional<int64_t> counted,
                                          std::span<const uint64_t> counted_terms,
                                          std::span<const uint64_t> counted_starts) const {
  ArticleSnippets made;
  made.title = Title(article);
  const std::size_t terms = words_->terms.size();
  const std::size_t sought_terms = static_cast<std::size_t>(std::count_if(
      words_->terms.begin(), words_->terms.end(), [](const auto& term) { return !term.excluded; }));
  // The places the text is made from are kept, so that each link finds its hit's bytes
  // without reading the article from its start again.
  const bool counts_known = counted_terms.size() == terms;
  TextOrigins origins(article);
  std::string text;
  std::vector<uint64_t> found(terms, 0);
  std::vector<WordHit> hits;
  std::vector<std::size_t> chosen;
  std::size_t least_score = 0;
  const auto is_excluded = [&](const WordHit& hit) { return words_->terms[hit.term].excluded; };
  if (counts_known && article.size() > kFirstWordsTextStep && !counted_starts.empty() &&
      counted_starts.back() < article.size()) {
    // Where every hit counted lies is known: the text is made only around them.
    WindowedText windowed = TextAroundHits(article, counted_starts, origins);
    text = std::move(windowed.text);
    hits = WordsMatcher::HitsIn(*words_, settings_, text, kMostWordHitsWeighed);
    auto span = windowed.weighed.begin();
    std::erase_if(hits, [&](const WordHit& hit) {
      while (span != windowed.weighed.end() && span->end < hit.end) ++span;
      return is_excluded(hit) || span == windowed.weighed.end() || hit.start < span->start;
    });
    chosen = ChosenPassages(hits, terms, least_score);
  } else {
    // With every term's hits counted as the article was read, the text is made in growing
    // steps only as far as the passages need it: a long page that holds every term together
    // early on is not made to its end. Otherwise a better passage may come anywhere, and it
    // is.
    for (std::size_t read = 0, step = kFirstWordsTextStep;; step *= 2) {
      read = counts_known ? std::min(article.size(), read + step) : article.size();
      origins.AppendText(read, text);
      hits = WordsMatcher::HitsIn(*words_, settings_, text, kMostWordHitsWeighed, &found);
      std::erase_if(hits, is_excluded);
      chosen = ChosenPassages(hits, terms, least_score);
      if (read == article.size()) break;
      // The text to come cannot change these passages when there are as many as are shown,
      // each holding every term sought (a later passage comes after them among equals), and
      // the text around the last of them, as far as its passage and snippet reach, can no
      // longer change.
      if (chosen.size() == kMostSnippets && least_score == sought_terms) {
        const std::size_t window_end = hits[chosen.back()].end + kContextBytes;
        if (window_end + kUnsureBytes <= text.size() &&
            NextAsciiByte(text, window_end) < text.size()) {
          break;
        }
      }
    }
  }

  std::size_t shown_end = 0;
  // Each link opens where the article's bytes give the hit's text, as a phrase's does.
  for (const std::size_t at : chosen) {
    const TextSpan hit{static_cast<std::size_t>(hits[at].start),
                       static_cast<std::size_t>(hits[at].end)};
    if (!made.snippets.empty() && hit.start < shown_end) continue;
    TextSpan taken;
    made.snippets.push_back(Cut(text, hit, shown_end, taken, &hits));
    shown_end = taken.end;
    if (const std::optional<std::size_t> start = origins.ByteOf(hit.start)) {
      made.snippets.back().link = LinkToPassage(
          article, *start, std::string_view(text).substr(hit.start, hit.end - hit.start));
    }
  }

  // The counts the scan made, else those of the text; an excluded term's are none.
  if (counts_known) found.assign(counted_terms.begin(), counted_terms.end());
  made.term_hits.assign(terms, 0);
  int64_t all = 0;
  for (std::size_t term = 0; term < terms; ++term) {
    if (words_->terms[term].excluded) continue;
    made.term_hits[term] = static_cast<int64_t>(found[term]);
    all += made.term_hits[term];
  }
  made.hits = counted ? *counted : all;
  return made;
}

std::optional<std::vector<Snippet>> SnippetMaker::SnippetsOfText(
    std::string_view text, bool whole, std::vector<TextSpan>& hits) const {
  std::vector<Snippet> snippets;
  hits.clear();
  std::size_t shown_end = 0;
  for (const TextSpan hit : Occurrences(text)) {
    if (snippets.size() == kMostSnippets) break;
    if (!snippets.empty() && hit.start < shown_end) continue;
    if (!whole) {
      // Near the end of what was made, the text to come may change an occurrence (one that
      // overlaps a longer one, a character folded with what follows) or a snippet's window,
      // which Cut widens past its context to a character boundary.
      std::size_t window_end = hit.end + kContextBytes;
      if (window_end + kUnsureBytes > text.size()) return std::nullopt;
      window_end = NextAsciiByte(text, window_end);
      if (window_end == text.size()) return std::nullopt;
    }
    TextSpan taken;
    snippets.push_back(Cut(text, hit, shown_end, taken));
    hits.push_back(hit);
    shown_end = taken.end;
  }
  if (!whole && snippets.size() < kMostSnippets) return std::nullopt;
  return snippets;
}

ArticleSnippets SnippetMaker::MakeOfText(std::string_view article,
                                         std::optional<int64_t> counted) const {
  ArticleSnippets made;
  made.title = Title(article);
  // With the hits counted already, the text is made in growing steps only as far as the
  // snippets need it: the scan's matcher has made all of it once.
  // The places the text is made from are kept, so that each link finds its hit's bytes
  // without reading the article from its start again.
  TextOrigins origins(article);
  std::string text;
  std::size_t read = 0;
  for (std::size_t step = kFirstTextStep;; step *= 2) {
    read = counted ? std::min(article.size(), read + step) : article.size();
    origins.AppendText(read, text);
    const bool whole = read == article.size();
    std::vector<TextSpan> hits;
    if (std::optional<std::vector<Snippet>> snippets = SnippetsOfText(text, whole, hits)) {
      made.snippets = std::move(*snippets);
      // Each link opens where the article's bytes give the hit's text.
      for (std::size_t at = 0; at < hits.size(); ++at) {
        const std::optional<std::size_t> start = origins.ByteOf(hits[at].start);
        if (!start) continue;
        made.snippets[at].link = LinkToPassage(
            article, *start,
            std::string_view(text).substr(hits[at].start, hits[at].end - hits[at].start));
      }
      break;
    }
  }
  made.hits = counted ? *counted : static_cast<int64_t>(Occurrences(text).size());
  return made;
}

ArticleSnippets SnippetMaker::MakeOfBytes(std::string_view article, std::optional<int64_t> counted,
                                          std::span<const uint64_t> first_starts) const {
  ArticleSnippets made;
  made.title = Title(article);
  // Folded hits are found in a folded view of the whole article, all at once.
  ByteHits hits = folds_ ? ByteHits(Occurrences(article), finder_)
                         : ByteHits(article, finder_, counted, first_starts);
  TextOfBytes text(article, hits);
  std::size_t shown_end = 0;
  bool shown_text = false;
  for (std::size_t index = 0; made.snippets.size() < kMostSnippets && hits[index]; ++index) {
    const TextOfBytes::HitPlace place = text.PlaceOfHit(index);
    TextSpan taken;
    switch (place.kind) {
      case TextOfBytes::HitPlace::Kind::kInsideMarkup:
        continue;  // nothing a reader sees
      case TextOfBytes::HitPlace::Kind::kAcross:
        made.snippets.push_back(Cut(article, *hits[index], 0, taken));
        made.snippets.back().link = LinkToPassage(article, hits[index]->start, std::nullopt);
        continue;
      case TextOfBytes::HitPlace::Kind::kText:
        break;
    }
    if (shown_text && place.span.start < shown_end) continue;
    const std::size_t not_before = std::max(shown_end, text.exact_from());
    // Cut's window reaches kContextBytes before the hit, or to `not_before`; counted from an
    // ASCII byte at or after its start, the characters there are no more than it holds.
    const std::size_t start = place.span.start;
    const std::size_t counted_from = std::max(
        not_before, NextAsciiByte(text.text(), start > kContextBytes ? start - kContextBytes : 0));
    const bool half_before = HasCharactersBefore(text.text(), counted_from, start, kHalfSnippet);
    text.ExtendPast(place.span.end, half_before ? kHalfSnippetReach : kSnippetReach);
    made.snippets.push_back(Cut(text.text(), place.span, not_before, taken));
    const TextSpan hit = *hits[index];
    made.snippets.back().link =
        LinkToPassage(article, hit.start, article.substr(hit.start, hit.end - hit.start));
    shown_end = taken.end;
    shown_text = true;
  }
  made.hits = counted ? *counted : hits.Count();
  return made;
}

}  // namespace kb
