#pragma once

// Telling, as a scan opens its files, whether they are read from memory or from the disk, so
// that the scan keeps many reads in flight while they come from the disk. A thread of the
// scan waits for one file at a time, and a solid-state disk serves many requests at once:
// while the files are not in memory, more requests in flight finish the scan sooner; while
// they are, threads beyond the processors only cost.
//
// Each of the scan's threads opens its files through a ColdReadEnv of its own, which looks,
// at the first open and at every kLookStride-th after it, whether the file's first bytes are
// in memory (File::ReadCached: a read that never waits, and that starts bringing them in when
// they are not). A file found missing opens the scan's StandbyGate, and its standby threads
// read too; kWarmAfterLooks looks in a row on one thread that find the file in memory close
// it again. A look that fails, as on a file system that cannot tell, counts as missing: there
// each request costs a round trip, and more of them in flight pay off all the more.
//
// While the gate is open, a thread also opens the files it is about to read ahead of their
// reads (OpenAhead) and asks the system to bring each in (File::WillRead), so that a thread
// keeps as many requests in flight as it has files opened ahead, and waits, if at all, once
// for all of them rather than once for each. On a machine with few processors, the kernel's
// own work per file read from the disk is what bounds a cold scan: one wait for many files
// spares most of the sleeping and waking it costs a thread to wait for each.
//
// Nothing a look or an open ahead finds or meets is ever reported, and it changes nothing
// that the scan reads, only when: a file that could not be opened ahead is opened again when
// its turn comes, and that open, and the file's own reads, report whatever is wrong with it.

#include <cstddef>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "platform/file_system.h"
#include "support/pipeline/ordered_pipeline.h"

namespace kb {

// One open in this many, on each thread, is looked at.
inline constexpr std::size_t kLookStride = 8;
// Looks in a row on one thread that find the file in memory before the gate closes.
inline constexpr std::size_t kWarmAfterLooks = 4;
// The most files one thread holds opened ahead.
inline constexpr std::size_t kMostOpenedAhead = kLargestBatch;

// An Env that forwards every call to its target, and looks at the files it opens now and then
// (see above). One for each thread of the scan; `gate` (none: nothing is looked at, nothing
// opened ahead) must outlive it. One thread at a time may use it.
class ColdReadEnv final : public platform::EnvWrapper {
 public:
  ColdReadEnv(platform::Env& target, StandbyGate* gate) : EnvWrapper(target), gate_(gate) {}

  // While the gate is open, opens the first kMostOpenedAhead files at `paths` (to be opened
  // next through this Env, in this order, with the default OpenOptions) and asks the system
  // to bring them in. Closes the files still held from the last call. The paths must stay
  // valid until the next call.
  void OpenAhead(std::span<const std::string_view> paths);

  // Hands over the file opened ahead for `path`, if there is one, dropping those opened ahead
  // of it; else opens it through the target.
  platform::SystemError OpenFile(std::string_view path, const platform::OpenOptions& options,
                                 std::unique_ptr<platform::File>& file) override;

 private:
  struct OpenedAhead {
    std::string_view path;
    std::unique_ptr<platform::File> file;
  };

  // At the first file opened and every kLookStride-th after it, looks whether `file` begins
  // in memory, and opens or closes the gate accordingly.
  void LookNowAndThen(platform::File& file);

  StandbyGate* const gate_;
  std::size_t opens_ = 0;
  std::size_t found_in_memory_ = 0;  // looks in a row
  std::vector<OpenedAhead> opened_ahead_;
  std::size_t next_ahead_ = 0;  // the first of opened_ahead_ not handed over or dropped
};

}  // namespace kb
