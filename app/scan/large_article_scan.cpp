#include "app/scan/large_article_scan.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <new>
#include <span>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "app/match/phrase_finder.h"
#include "support/text/text.h"

namespace kb {
namespace {

constexpr uint64_t kNowhere = UINT64_MAX;
// From the start of a marker to the end of the longest excerpt after it.
constexpr std::size_t kMarkerAndExcerpt = kArticleMarker.size() + kExcerptLength;

// What one part of the article holds, as far as the search is concerned.
struct Part {
  enum class Ending {
    kUnread,      // not read (yet)
    kWhole,       // read to its planned end
    kSettled,     // read until it held the phrase, the marker and the excerpt after it
    kFileEnded,   // the file ended before the part's planned end: it has shrunk
    kReadFailed,  // a read failed at `end`
  };

  uint64_t begin = 0;
  uint64_t planned_end = 0;
  uint64_t end = 0;  // where the bytes read end
  Ending ending = Ending::kUnread;
  platform::SystemError error = platform::system_error::kNone;  // kReadFailed's
  // The offsets of the first occurrences that lie wholly within the bytes read.
  uint64_t phrase = kNowhere;
  uint64_t marker = kNowhere;
  std::string head;     // its first bytes: for the seam before it and an excerpt that runs on
  std::string tail;     // its last bytes: for the seam after it
  std::string excerpt;  // what follows its marker within it, at most kExcerptLength bytes
};

// How many bytes of the parts' ends the seams and excerpts need.
struct Margins {
  explicit Margins(std::size_t phrase_size)
      : head(std::max(kMarkerAndExcerpt, phrase_size)),
        tail(std::max(phrase_size, kArticleMarker.size()) - 1) {}
  std::size_t head;
  std::size_t tail;
};

// Looks for the phrase and the marker in the bytes of one part, fed in order.
class PartSearch {
 public:
  explicit PartSearch(std::string_view phrase)
      : phrase_(phrase, PhraseFinder::Case::kFolded),
        marker_(kArticleMarker, PhraseFinder::Case::kExact),
        margins_(phrase.size()) {}

  void Start(Part& part) {
    part_ = &part;
    phrase_.Restart();
    marker_.Restart();
    part.end = part.begin;
  }

  void Feed(std::string_view bytes) {
    Part& part = *part_;
    const uint64_t piece_start = marker_.fed();
    if (part.head.size() < margins_.head) {
      part.head.append(bytes.substr(0, margins_.head - part.head.size()));
    }
    part.tail.append(bytes.substr(bytes.size() - std::min(bytes.size(), margins_.tail)));
    part.tail.erase(0, part.tail.size() - std::min(part.tail.size(), margins_.tail));
    phrase_.Feed(bytes);
    marker_.Feed(bytes);
    if (marker_.found() && part.excerpt.size() < kExcerptLength) {
      ArticleMarker::CollectExcerpt(marker_.position(), bytes, piece_start, part.excerpt);
    }
    part.end = part.begin + marker_.fed();
  }

  bool settled() const {
    return phrase_.found() && ArticleMarker::Complete(marker_.found(), part_->excerpt.size());
  }

  void Finish(Part::Ending ending, platform::SystemError error = platform::system_error::kNone) {
    Part& part = *part_;
    if (phrase_.found()) part.phrase = part.begin + phrase_.position();
    if (marker_.found()) part.marker = part.begin + marker_.position();
    part.ending = ending;
    part.error = error;
  }

 private:
  StreamSearch phrase_;
  StreamSearch marker_;
  Margins margins_;
  Part* part_ = nullptr;
};

// Reads `part` with reads of buffer.size() bytes, as reading the file from its start would,
// and looks through it. Leaves the part unread when `stop` is asked.
void ReadPart(const BlockFile& file, std::span<char> buffer, PartSearch& search, Part& part,
              const std::stop_token& stop) {
  search.Start(part);
  for (uint64_t at = part.begin; at < part.planned_end;) {
    if (stop.stop_requested()) return;
    const auto wanted =
        static_cast<std::size_t>(std::min<uint64_t>(buffer.size(), part.planned_end - at));
    std::size_t count = 0;
    // A failed read takes in nothing, as a refill of the buffer that fails.
    if (const platform::SystemError error = file.ReadAt(at, buffer.first(wanted), count)) {
      search.Finish(Part::Ending::kReadFailed, error);
      return;
    }
    search.Feed(std::string_view(buffer.data(), count));
    at += count;
    if (count < wanted) {
      search.Finish(Part::Ending::kFileEnded);
      return;
    }
    if (search.settled()) {
      search.Finish(Part::Ending::kSettled);
      return;
    }
  }
  search.Finish(Part::Ending::kWhole);
}

// The first occurrence that `finder` finds across the seam at `seam`, in the last bytes of the
// part before it (`before`) and the first bytes of the part after it (`after`).
uint64_t AcrossSeam(const PhraseFinder& finder, std::string_view before, std::string_view after,
                    uint64_t seam) {
  const std::size_t overlap = finder.size() - 1;
  if (overlap == 0) return kNowhere;
  // Neither side holds an occurrence whole: what is found here spans the seam.
  before = before.substr(before.size() - std::min(before.size(), overlap));
  const std::string bytes = std::string(before).append(after.substr(0, overlap));
  const std::size_t at = finder.Find(bytes);
  return at == PhraseFinder::npos ? kNowhere : seam - before.size() + at;
}

// The parts' findings put together in order, as reading the article from its start meets
// them: advanced over each part as soon as it and every part before it have been read, and
// done once the outcome is settled or the reading from the start would have ended.
class Assembly {
 public:
  explicit Assembly(std::string_view phrase)
      : phrase_(phrase, PhraseFinder::Case::kFolded),
        marker_(kArticleMarker, PhraseFinder::Case::kExact) {}

  // Takes in the parts from the next one on while they have been read.
  void Advance(const std::vector<Part>& parts) {
    for (; !done_ && next_ < parts.size() && parts[next_].ending != Part::Ending::kUnread;
         ++next_) {
      TakeIn(parts, next_);
    }
  }

  bool done() const { return done_; }
  // How many of the parts, from the first, the outcome needs: all while it is not done.
  std::size_t needed_parts() const { return done_ ? next_ : SIZE_MAX; }

  SharedScanOutcome Outcome() const {
    SharedScanOutcome outcome;
    outcome.read_failed = read_failed_;
    outcome.error = error_;
    outcome.matched = phrase_at_ != kNowhere && marker_at_ != kNowhere;
    if (outcome.matched) outcome.excerpt = Clip(excerpt_);
    return outcome;
  }

 private:
  // Whether reading from the start could stop here, before the next read.
  bool settled() const {
    return phrase_at_ != kNowhere &&
           ArticleMarker::Complete(marker_at_ != kNowhere, excerpt_.size());
  }

  // Takes in a part that reading from the start reaches: every part before it was read whole
  // and left the outcome open.
  void TakeIn(const std::vector<Part>& parts, std::size_t index) {
    const Part& part = parts[index];
    if (part.end > part.begin) {
      if (index > 0) {
        const Part& before = parts[index - 1];
        if (phrase_at_ == kNowhere) {
          phrase_at_ = AcrossSeam(phrase_, before.tail, part.head, part.begin);
        }
        if (marker_at_ == kNowhere) {
          marker_at_ = AcrossSeam(marker_, before.tail, part.head, part.begin);
        }
      }
      if (phrase_at_ == kNowhere) phrase_at_ = part.phrase;
      if (marker_at_ == kNowhere && part.marker != kNowhere) {
        marker_at_ = part.marker;
        excerpt_ = part.excerpt;
      }
      // The excerpt after a marker that began before the part runs on into its first bytes.
      // The head holds more than an excerpt's bytes, or all the part's.
      if (marker_at_ < part.begin && excerpt_.size() < kExcerptLength) {
        ArticleMarker::CollectExcerpt(marker_at_, part.head, part.begin, excerpt_);
      }
    }
    switch (part.ending) {
      case Part::Ending::kWhole:
        // Reading from the start stops before the next read once the outcome is settled.
        if (!settled()) return;
        break;
      case Part::Ending::kReadFailed:
        // Met only when the bytes before it left the outcome open.
        if (!settled()) {
          read_failed_ = true;
          error_ = part.error;
        }
        break;
      case Part::Ending::kSettled:
      case Part::Ending::kFileEnded:
      case Part::Ending::kUnread:
        break;
    }
    done_ = true;
  }

  PhraseFinder phrase_;
  PhraseFinder marker_;
  std::size_t next_ = 0;  // the next part to take in
  bool done_ = false;
  uint64_t phrase_at_ = kNowhere;
  uint64_t marker_at_ = kNowhere;
  std::string excerpt_;
  bool read_failed_ = false;
  platform::SystemError error_ = platform::system_error::kNone;
};

// The parts of an article of `size` bytes whose first `first` bytes are read already: that
// first read, then parts of `part_size` bytes (whole reads of `read_size`) to the end.
std::vector<Part> PlanParts(uint64_t first, uint64_t size, std::size_t read_size,
                            uint64_t part_size) {
  part_size = std::max<uint64_t>((part_size + read_size - 1) / read_size, 1) * read_size;
  std::vector<Part> parts;
  parts.reserve(static_cast<std::size_t>(1 + (size - first + part_size - 1) / part_size));
  for (uint64_t begin = 0; begin < size; begin = parts.back().planned_end) {
    Part& part = parts.emplace_back();
    part.begin = begin;
    part.planned_end = begin == 0 ? first : std::min(begin + part_size, size);
  }
  return parts;
}

}  // namespace

bool ShouldShare(const BlockFile& file, const QueryMatcher& matcher,
                 const ArticleSharing& sharing) {
  return sharing.threads > 1 && !matcher.byte_phrase().empty() &&
         file.size() >= sharing.smallest_article && file.size() > file.buffer_size();
}

bool ScanSharedArticle(const BlockFile& file, std::string_view first, const QueryMatcher& matcher,
                       const ArticleSharing& sharing, const std::stop_token& stop,
                       SharedScanOutcome& outcome) {
  const std::size_t read_size = file.buffer_size();
  const std::string_view phrase = matcher.byte_phrase();
  std::vector<Part> parts;
  std::vector<PartSearch> searches;
  std::vector<std::unique_ptr<char[]>> buffers;
  std::unique_ptr<Assembly> assembly;
  try {
    parts = PlanParts(first.size(), file.size(), read_size, sharing.part_size);
    assembly = std::make_unique<Assembly>(phrase);
    const std::size_t threads = std::clamp<std::size_t>(sharing.threads, 1, parts.size() - 1);
    for (std::size_t thread = 0; thread < threads; ++thread) {
      searches.emplace_back(phrase);
      buffers.push_back(std::make_unique_for_overwrite<char[]>(read_size));
    }
  } catch (const std::bad_alloc&) {
    return false;
  }

  // The first read is in hand: when it settles the outcome, nothing more is read.
  searches[0].Start(parts[0]);
  searches[0].Feed(first);
  searches[0].Finish(first.size() < read_size ? Part::Ending::kFileEnded : Part::Ending::kWhole);
  assembly->Advance(parts);

  // Guards `parts`, `assembly` and `next_part`; a part is read outside it, into a copy that
  // takes its place once read.
  std::mutex mutex;
  std::size_t next_part = 1;
  const auto read_parts = [&](PartSearch& search, std::span<char> buffer) {
    std::unique_lock lock(mutex);
    while (!stop.stop_requested()) {
      const std::size_t index = next_part++;
      if (index >= std::min(parts.size(), assembly->needed_parts())) return;
      Part part = parts[index];
      lock.unlock();
      ReadPart(file, buffer, search, part, stop);
      lock.lock();
      parts[index] = std::move(part);
      assembly->Advance(parts);
    }
  };

  if (!assembly->done()) {
    std::vector<std::jthread> helpers;
    for (std::size_t thread = 1; thread < searches.size(); ++thread) {
      try {
        helpers.emplace_back(read_parts, std::ref(searches[thread]),
                             std::span<char>(buffers[thread].get(), read_size));
      } catch (const std::system_error&) {
        break;  // the threads made so far, and this one, share the parts
      }
    }
    read_parts(searches[0], std::span<char>(buffers[0].get(), read_size));
  }
  outcome = assembly->Outcome();
  return true;
}

}  // namespace kb
