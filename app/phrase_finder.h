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

}  // namespace kb
