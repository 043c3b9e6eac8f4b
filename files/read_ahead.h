#pragma once

// Reading ahead of a scan that reads many files, each once, in an order known from the start
// (the articles, in listing order), so that the disk is asked for many files at once when
// they are not in memory, while each of the scan's threads waits for one file at a time.
//
// Threads of its own, the readers, open the files ahead of the scan. For each they look
// whether its first bytes are in memory (File::ReadCached); when they are not, they ask the
// system to bring in the file's first kReadAheadBytes (File::WillRead), and close it again.
// The open has brought in the file's inode as well. Both the open and the hint may wait for
// the disk (the hint, for room in the device's queue), so there is one reader for each file
// of the depth, up to kMostReaders: each keeps one file's requests in flight, and none of
// them reads a byte into the program's memory.
//
// While files are found missing from memory, the readers keep the `depth` files after the
// furthest the scan has reached looked at. Once kWarmAfterHits files in a row were found in
// memory, they look at only one file in every kWarmStride, just ahead of the scan, and leave
// the processors to the scan's threads; a look that finds a file missing again brings back
// the full depth, from where the scan stands.
//
// Nothing it does is ever reported, and it changes nothing that the scan reads, only how
// soon: every failure of its own calls is ignored, and the scan's own open and reads of a
// file meet and report whatever is wrong with it. It holds one file open per reader at most,
// and no memory of its own beyond the readers' stacks; what it brings in is the system's
// page cache, at most `depth` files' first kReadAheadBytes ahead of the scan.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/file_system.h"

namespace kb {

// How much of each file the read-ahead asks for: a larger file's rest is read by the scan as
// it goes, which the system reads ahead of on its own.
inline constexpr uint64_t kReadAheadBytes = 1 << 20;
// Files found in memory one after another before the read-ahead holds back.
inline constexpr std::size_t kWarmAfterHits = 32;
// While files are found in memory, one file in this many is looked at.
inline constexpr std::size_t kWarmStride = 64;
// The most readers, whatever the depth.
inline constexpr std::size_t kMostReaders = 64;

struct ReadAheadSettings {
  // Files looked at ahead of the scan at most, while they are found missing from memory.
  std::size_t depth = 64;
  // Threads opening files ahead of the scan; 0: one per file of depth, at most
  // kMostReaders.
  std::size_t readers = 0;
};

class ReadAhead {
 public:
  // The path of file `index`, 0 to count - 1, or an empty one for a file the scan does not
  // read, which is skipped; called from the readers, at any time while the ReadAhead lives.
  using PathOf = std::function<std::string_view(std::size_t index)>;

  // Starts reading ahead of a scan of files 0 to count - 1 of `env`, from file 0 on. `env`
  // and what `path_of` reads must outlive the ReadAhead. A reader that cannot be made leaves
  // the reading ahead to the others, or to nobody.
  ReadAhead(platform::Env& env, std::size_t count, PathOf path_of,
            const ReadAheadSettings& settings);
  // Stops the readers, and waits for them to leave (each within one look at a file).
  ~ReadAhead();
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;

  // The scan has reached file `index`: it is being read, so the readers need not look at it
  // or at any before it. Any thread may call it, in any order; it costs an atomic compare
  // and exchange, and wakes a reader only when all wait for the scan to move.
  void Reached(std::size_t index);

  // The files looked at so far, and those of them found missing from memory.
  std::size_t looked_at() const { return looked_at_.load(); }
  std::size_t found_missing() const { return found_missing_.load(); }

 private:
  // The next file for a reader to look at, waiting while the readers are as far ahead of the
  // scan as they may be; `count_` when there is none left or a stop was requested.
  std::size_t Claim(const std::stop_token& stop);
  // Looks at the file at `path`: true when its first bytes were in memory.
  bool Look(std::string_view path);
  // Wakes one waiting reader, or all; with `mutex_` held.
  void Wake(bool all);
  // Counts what a look found, and holds back or reads ahead again accordingly.
  void Reckon(bool in_memory);
  void ReadAheadUntilDone(const std::stop_token& stop);

  platform::Env& env_;
  const std::size_t count_;
  const PathOf path_of_;
  const std::size_t depth_;

  // One past the furthest file the scan has reached.
  std::atomic<std::size_t> scan_end_ = 0;
  // Readers waiting for scan_end_ to pass this; SIZE_MAX when none waits.
  std::atomic<std::size_t> wake_at_ = SIZE_MAX;
  std::atomic<std::size_t> looked_at_ = 0;
  std::atomic<std::size_t> found_missing_ = 0;

  // Guarded by `mutex_`:
  std::mutex mutex_;
  std::condition_variable_any scan_moved_;
  std::size_t wakes_ = 0;          // how often readers were woken
  std::size_t next_ = 0;           // the next file to look at
  std::size_t hits_in_a_row_ = 0;  // kWarmAfterHits or more: holding back

  std::vector<std::jthread> readers_;  // last: joined before the rest goes
};

}  // namespace kb
