#include "files/cold_reads.h"

#include <algorithm>
#include <span>

namespace kb {
namespace {

bool AreDefault(const platform::OpenOptions& options) {
  const platform::OpenOptions plain;
  return options.access == plain.access && options.creation == plain.creation &&
         options.follow_links == plain.follow_links && options.permissions == plain.permissions;
}

}  // namespace

void ColdReadEnv::OpenAhead(std::span<const std::string_view> paths) {
  opened_ahead_.clear();
  next_ahead_ = 0;
  if (gate_ == nullptr || !gate_->is_open()) return;
  for (const std::string_view path : paths.first(std::min(paths.size(), kMostOpenedAhead))) {
    std::unique_ptr<platform::File> file;
    if (target().OpenFile(path, {}, file) != platform::system_error::kNone) continue;
    LookNowAndThen(*file);
    file->WillRead();
    opened_ahead_.push_back({path, std::move(file)});
  }
}

platform::SystemError ColdReadEnv::OpenFile(std::string_view path,
                                            const platform::OpenOptions& options,
                                            std::unique_ptr<platform::File>& file) {
  if (AreDefault(options)) {
    for (std::size_t ahead = next_ahead_; ahead < opened_ahead_.size(); ++ahead) {
      if (opened_ahead_[ahead].path != path) continue;
      file = std::move(opened_ahead_[ahead].file);
      for (; next_ahead_ <= ahead; ++next_ahead_) opened_ahead_[next_ahead_].file.reset();
      return platform::system_error::kNone;
    }
  }
  const platform::SystemError error = target().OpenFile(path, options, file);
  if (gate_ != nullptr && error == platform::system_error::kNone) LookNowAndThen(*file);
  return error;
}

void ColdReadEnv::LookNowAndThen(platform::File& file) {
  if (opens_++ % kLookStride != 0) return;
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
