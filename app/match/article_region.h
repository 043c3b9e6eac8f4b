#pragma once

// Which part of a page is the article (ArticlePart, app/match/match_settings.h), read from the
// page's bytes fed piece by piece in file order: the region that a search matches, whose text
// gives the excerpt and the snippets.
//
//  - With the default marker the region is the whole page. With kBodyMarker it begins right
//    after the page's first <body> start tag, with any other marker right after the marker's
//    first occurrence, byte for byte; it runs to the end of the page. A page where it does
//    not begin has no region, and is no article. The region is read as a page of its own:
//    markup that the marker cuts in two is text from the marker on.
//  - Where ignored elements are dropped (the text of the page), an ignored element is one
//    whose start tag has a name in the list, or a class attribute that holds one of its
//    classes. It runs from the end of its start tag to the end of its matching end tag (the
//    end tags of its name counted against the start tags of its name within it), or to the
//    end of the page; an element that never has contents (img, br, input...) ends with its
//    start tag. Its start tag stays (markup, which the text leaves out) and one blank takes
//    the place of the rest, so that the element counts as one blank. Tags are read as
//    HtmlMarkup reads them (app/match/html_markup.h): not in comments, nor in a script or a
//    style, whose elements are markup already and are never dropped. A class attribute is
//    looked for within the first kLongestReadTag bytes of its tag.
//
// The outcome does not depend on how the page is cut into pieces. Memory stays bounded: what
// is held from one piece to the next is the marker's last bytes, a tag's first bytes and the
// name of the ignored element being passed over.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/match/html_markup.h"
#include "app/match/match_settings.h"
#include "app/match/phrase_finder.h"

namespace kb {

// Walks the markup of a page, stopping at the end of every tag, to tell its name and its
// classes.
class HtmlTagWalker {
 public:
  static constexpr std::size_t kLongestReadTag = 4096;

  // `reads_classes`: whether HasClass is asked; else the tags' bytes are not kept for it.
  explicit HtmlTagWalker(bool reads_classes = false) : reads_classes_(reads_classes) {}

  void Restart();
  // Reads `piece` from `at` on up to the end of the next tag, and gives where it stopped:
  // right after the tag's ">" when `tag_ended` is set, else at the piece's end.
  std::size_t Next(std::string_view piece, std::size_t at, bool& tag_ended);

  // Of the tag that the last Next ended: its name in lower case (empty when longer than
  // HtmlMarkup::kLongestTagName), whether it is an end tag, and whether its class attribute
  // holds `name`.
  std::string_view name() const { return markup_.EndedTagName(); }
  bool end_tag() const { return markup_.EndedEndTag(); }
  bool HasClass(std::string_view name) const;

 private:
  HtmlMarkup markup_;
  bool reads_classes_;
  bool in_markup_ = false;
  std::string tag_;  // the first bytes of the markup being read, from its "<"
};

class ArticleRegion {
 public:
  // `drops_ignored`: whether ignored elements are dropped (the text of the page is searched).
  ArticleRegion(const ArticlePart& part, bool drops_ignored);

  // Forgets the previous page.
  void Restart();
  // The bytes of the region in `piece`, the page's next bytes, ignored elements dropped: a
  // view of `piece` or of the region's own room, valid until the next call.
  std::string_view Feed(std::string_view piece);

  // Whether the region has begun: always with the default marker.
  bool started() const { return started_; }
  // Whether it gives every byte of the page as it is.
  bool whole_page() const { return whole_page_; }

 private:
  // Where the region begins in `piece`, or npos when not there.
  std::size_t FindStart(std::string_view piece);
  bool Ignored() const;
  // Passes `piece`, within the region, to out_ without the ignored elements.
  void DropIgnored(std::string_view piece);

  enum class Start : uint8_t { kPageStart, kBodyTag, kMarker };
  Start start_kind_;
  bool whole_page_;
  bool started_ = false;
  std::optional<StreamSearch> marker_;  // for Start::kMarker
  HtmlTagWalker start_walker_;          // for Start::kBodyTag

  std::vector<std::string> ignored_names_;
  std::vector<std::string> ignored_classes_;  // without their dots
  HtmlTagWalker walker_;
  std::string passed_over_;  // the name of the ignored element being passed over; or empty
  std::size_t depth_ = 0;    // of passed_over_'s start tags, its own included
  std::string out_;
};

// The marker a setting's value names: kBodyMarker for "body" in any case, else the text
// itself. An empty value names none.
std::optional<std::string> MarkerOf(std::string_view value);

// The ignored elements of a list such as "nav, header, .sidebar", separated by commas and
// blanks: element names (a letter, then letters, digits and "-"), taken in lower case, and
// classes with a dot (a dot, then anything but blanks and commas). Gives the first entry that
// is neither when there is one, leaving `ignore` as it was; an empty list ignores nothing.
std::optional<std::string> ParseIgnoreList(std::string_view list, std::vector<std::string>& ignore);

// The list as ParseIgnoreList reads it: the entries with ", " between.
std::string IgnoreListText(const std::vector<std::string>& ignore);

// The region of a whole page, as ArticleRegion gives it; none when it does not begin.
std::optional<std::string> RegionOf(std::string_view page, const ArticlePart& part,
                                    bool drops_ignored);

}  // namespace kb
