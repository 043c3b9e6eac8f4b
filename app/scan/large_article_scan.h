#pragma once

// The reading of one large article shared out between threads, so that an article of many
// megabytes does not keep one thread busy while the others wait for it: the rest of the scan
// cannot go past an article before it is done.
//
// The article is cut into parts of whole reads of its file. Threads take the parts one after
// another, each reading its own through the article's one open file (its lock held by the
// open) and looking for the phrase and the marker in it; what the parts hold is then put
// together, in order, into what reading the article from its start would have come to: the
// same result and excerpt, and a failed read reported only when reading from the start would
// have come to it before the outcome was settled. Parts read the same bytes with the same
// reads as reading from the start does, so a read fails in a part exactly when it would have
// failed there.
//
// Only the plain byte search is shared out: what it finds in a stretch of bytes does not
// depend on what came before it, but for occurrences across the seams between parts, which
// are looked for in the bytes either side of each seam.

#include <cstddef>
#include <cstdint>
#include <stop_token>
#include <string>
#include <string_view>

#include "app/match/query_matcher.h"
#include "files/block_file.h"
#include "platform/file_system.h"

namespace kb {

struct ArticleSharing {
  // Threads that read one large article together, the calling thread included; 1 (or 0)
  // shares nothing out.
  std::size_t threads = 1;
  // The smallest article shared out, in bytes.
  uint64_t smallest_article = uint64_t{4} << 20;
  // The bytes of a part, rounded up to whole reads of the file.
  uint64_t part_size = uint64_t{1} << 20;
};

// What reading the article came to.
struct SharedScanOutcome {
  // A read failed before the outcome was settled, with `error`; what came before it was
  // searched all the same.
  bool read_failed = false;
  platform::SystemError error = platform::system_error::kNone;
  bool matched = false;
  std::string excerpt;  // when matched: as QueryMatcher::excerpt() gives it
};

// True when the reading of `file`, open and with nothing read from it yet, is to be shared out
// for `matcher`'s search: several threads, the plain byte search of a phrase that can match
// (QueryMatcher::byte_phrase),
// and an article of at least sharing.smallest_article bytes that its first read did not take
// in whole.
bool ShouldShare(const BlockFile& file, const QueryMatcher& matcher, const ArticleSharing& sharing);

// Reads and searches the rest of the open `file`, whose first read (its first NextBlocks) gave
// `first`, as ScanArticle would read it on from there with `matcher` (a byte phrase's, as
// ShouldShare found; its own state is not used), with up to sharing.threads threads, the calling
// one included; threads that cannot be made leave their share to the others. `outcome` is what
// reading the whole article from its start would have come to. False, with nothing read, when the
// memory for the reading cannot be had. `file` stays open; only ReadAt is used on it.
//
// `stop` is asked between reads; what comes of an article cut short so says nothing.
bool ScanSharedArticle(const BlockFile& file, std::string_view first, const QueryMatcher& matcher,
                       const ArticleSharing& sharing, const std::stop_token& stop,
                       SharedScanOutcome& outcome);

}  // namespace kb
