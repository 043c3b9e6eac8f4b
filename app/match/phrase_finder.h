#pragma once

// Finding a phrase in a text, either byte for byte or with the letters a-z matching their
// capitals (and A-Z their small letters); no other byte is folded. A folded search finds
// exactly where Upper(text) holds Upper(phrase), without making upper-case copies.
//
// This is the inner loop of every search, so it is built for speed: two bytes of the phrase
// that are rare in articles are looked for 16 text positions at a time (64 at a time while
// they are nowhere), and only where both sit is the whole phrase compared. A text that offers too
// many such places (one made of the phrase's own bytes) is searched on in linear time instead, so
// no text makes a search slow.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kb {

class PhraseFinder {
 public:
  enum class Case { kExact, kFolded };

  PhraseFinder(std::string_view phrase, Case mode);

  std::size_t size() const { return want_.size(); }

  // The 0-based offset of the first occurrence of the phrase in `text`, or npos. An empty
  // phrase is never found.
  std::size_t Find(std::string_view text) const;

  static constexpr std::size_t npos = std::string_view::npos;

 private:
  bool MatchesAt(const unsigned char* text) const;
  // The first occurrence at or after `from`, in time linear in the text's length.
  std::size_t FindLinearly(std::string_view text, std::size_t from) const;

  // A text byte t matches phrase byte i when (t | mask_[i]) == want_[i]: for a folded letter
  // the mask is the case bit and the wanted byte the small letter, otherwise the mask is 0.
  std::basic_string<unsigned char> want_;
  std::basic_string<unsigned char> mask_;
  // For each length of a matched start of the phrase, the length of its longest proper
  // prefix that is also its suffix: where a linear search resumes after a mismatch.
  std::vector<std::size_t> longest_border_;
  // The two phrase positions looked for first.
  std::size_t first_anchor_ = 0;
  std::size_t second_anchor_ = 0;
};

// The first occurrence of a phrase in a stream of pieces fed one after another, found as
// PhraseFinder finds it in the stream as a whole: occurrences that span pieces are found, and
// only the last size() - 1 bytes of the stream so far are kept to find them. When asked to,
// it also counts the occurrences that do not overlap, taken from left to right, as one
// search of the stream as a whole would.
class StreamSearch {
 public:
  enum class Count { kFirstOnly, kAll };

  StreamSearch(std::string_view phrase, PhraseFinder::Case mode, Count count = Count::kFirstOnly);

  // Forgets the stream so far.
  void Restart();
  // The next bytes of the stream. With kFirstOnly, nothing is looked at once the phrase has
  // been found.
  void Feed(std::string_view piece);

  bool found() const { return position_ != kNotFound; }
  // 0-based offset of the first occurrence in the stream.
  uint64_t position() const { return position_; }
  // With kAll, the occurrences so far that do not overlap; with kFirstOnly, 0 or 1.
  uint64_t count() const { return count_; }
  // With kAll, where the first kRecordedStarts of those occurrences start in the stream, so
  // that what looks at the first few need not search for them again.
  static constexpr std::size_t kRecordedStarts = 256;
  std::span<const uint64_t> first_starts() const { return starts_; }
  // False for an empty phrase, which is never found.
  bool can_match() const { return finder_.size() > 0; }
  std::size_t size() const { return finder_.size(); }
  // Bytes of the stream fed so far.
  uint64_t fed() const { return fed_; }

 private:
  static constexpr uint64_t kNotFound = UINT64_MAX;

  PhraseFinder finder_;
  std::string tail_;  // the last size() - 1 bytes of the stream so far
  std::string seam_;  // tail_ and the start of the next piece
  // Records the occurrence at `position` of the stream.
  void Found(uint64_t position);

  Count counting_;
  uint64_t fed_ = 0;
  uint64_t position_ = kNotFound;
  uint64_t count_ = 0;
  uint64_t next_ = 0;  // where the next occurrence counted may start: the last one's end
  std::vector<uint64_t> starts_;
};

}  // namespace kb
