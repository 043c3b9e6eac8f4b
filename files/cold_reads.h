#pragma once

// Telling, as a scan opens its files, whether they are read from memory or from the disk, so
// that the scan reads with more threads while they come from the disk. A thread of the scan
// waits for one file at a time, and a solid-state disk serves many requests at once: while
// the files are not in memory, more threads keep more requests in flight; while they are,
// threads beyond the processors only cost.
//
// Each of the scan's threads opens its files through a ColdReadEnv of its own, which looks,
// at the first open and at every kLookStride-th after it, whether the file's first bytes are
// in memory (File::ReadCached: a read that never waits, and that starts bringing them in when
// they are not). A file found missing opens the scan's StandbyGate, and its standby threads
// read too; kWarmAfterLooks looks in a row on one thread that find the file in memory close
// it again. A look that fails, as on a file system that cannot tell, counts as missing: there
// each request costs a round trip, and more of them in flight pay off all the more.
//
// Nothing a look finds or meets is ever reported, and it changes nothing that the scan reads,
// only on how many threads: the file's own reads report whatever is wrong with it.

#include <cstddef>
#include <memory>
#include <string_view>

#include "platform/file_system.h"
#include "support/pipeline/ordered_pipeline.h"

namespace kb {

// One open in this many, on each thread, is looked at.
inline constexpr std::size_t kLookStride = 8;
// Looks in a row on one thread that find the file in memory before the gate closes.
inline constexpr std::size_t kWarmAfterLooks = 4;

// An Env that forwards every call to its target, and looks at the files it opens now and then
// (see above). One for each thread of the scan; `gate` (none: nothing is looked at) must
// outlive it.
class ColdReadEnv final : public platform::EnvWrapper {
 public:
  ColdReadEnv(platform::Env& target, StandbyGate* gate) : EnvWrapper(target), gate_(gate) {}

  platform::SystemError OpenFile(std::string_view path, const platform::OpenOptions& options,
                                 std::unique_ptr<platform::File>& file) override;

 private:
  // Looks whether `file` begins in memory, and opens or closes the gate accordingly.
  void Look(platform::File& file);

  StandbyGate* const gate_;
  std::size_t opens_ = 0;
  std::size_t found_in_memory_ = 0;  // looks in a row
};

}  // namespace kb
