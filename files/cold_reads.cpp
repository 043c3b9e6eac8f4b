#include "files/cold_reads.h"

#include <span>

namespace kb {

platform::SystemError ColdReadEnv::OpenFile(std::string_view path,
                                            const platform::OpenOptions& options,
                                            std::unique_ptr<platform::File>& file) {
  const platform::SystemError error = target().OpenFile(path, options, file);
  if (gate_ != nullptr && error == platform::system_error::kNone && opens_++ % kLookStride == 0) {
    Look(*file);
  }
  return error;
}

void ColdReadEnv::Look(platform::File& file) {
  char first = 0;
  std::size_t count = 0;
  bool cached = false;
  if (file.ReadCached(0, std::span(&first, 1), count, cached) != platform::system_error::kNone ||
      !cached) {
    found_in_memory_ = 0;
    gate_->Open();
  } else if (++found_in_memory_ >= kWarmAfterLooks) {
    gate_->Close();
  }
}

}  // namespace kb
