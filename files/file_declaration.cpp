#include "files/file_declaration.h"

#include <algorithm>
#include <optional>

#include "files/access_mode.h"
#include "support/error_state/error_state.h"
#include "support/text/text.h"

namespace kb {
namespace {

constexpr std::size_t kBufferUnit = 512;
constexpr uint8_t kAccessBits = 0x03;
constexpr uint8_t kSharingBits = 0x70;

std::string_view TrimBlanks(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kBlank);
  if (first == std::string_view::npos) return {};
  return Clip(text.substr(first));
}

bool DeniesOthers(uint8_t mode) {
  const uint8_t sharing = mode & kSharingBits;
  return sharing == access_mode::kDenyAll || sharing == access_mode::kDenyWrite ||
         sharing == access_mode::kDenyRead;
}

// The checks every open and create make before asking the file system.
bool MayOpen(const FileDeclaration& declaration, std::string_view name) {
  if (declaration.record_length == 0 || declaration.record_length > kMaxRecordLength) {
    PostError(error::kInvalidRecordDeclaration);
    return false;
  }
  if (name.empty() || name.size() >= declaration.path_limit) {
    PostError(error::kInvalidFilename);
    return false;
  }
  return true;
}

// Posts the refusal of an open, if it is one.
bool Opened(platform::SystemError failure) {
  if (failure == platform::system_error::kNone) return true;
  PostError(OpenErrorNumber(failure), failure);
  return false;
}

}  // namespace

FileOptions ParseOptions(std::string_view text) {
  FileOptions options;
  while (!text.empty()) {
    const std::size_t slash = text.find('/');
    if (slash == std::string_view::npos) break;
    text.remove_prefix(slash + 1);
    const std::string_view option = text.substr(0, text.find('/'));
    const std::size_t equals = option.find('=');
    if (equals == std::string_view::npos) continue;
    const std::string word = Upper(TrimBlanks(option.substr(0, equals)));
    const int32_t value = TextToNumber(option.substr(equals + 1));
    if (word == "FILEBUFFERS") options.file_buffers = value;
    if (word == "TAB") options.tab_width = value;
  }
  return options;
}

FileSettings SettingsFor(const FileOptions& options, std::size_t record_length, uint8_t mode,
                         std::size_t minimum_buffer) {
  FileSettings settings;
  settings.quick_scan = DeniesOthers(mode);
  if (options.tab_width) settings.tab_width = *options.tab_width;
  if (options.file_buffers) {
    const int32_t count = std::clamp(*options.file_buffers, 0, kMaxFileBuffers);
    settings.buffer_size = static_cast<std::size_t>(count) * kBufferUnit;
  } else {
    settings.buffer_size = DeniesOthers(mode) ? 2 * kBufferUnit : kBufferUnit;
    settings.buffer_size = std::max(settings.buffer_size, 2 * record_length);
  }
  settings.buffer_size = std::max(settings.buffer_size, minimum_buffer);
  return settings;
}

FileSettings SettingsFor(const FileDeclaration& declaration, uint8_t mode,
                         std::size_t minimum_buffer) {
  return SettingsFor(ParseOptions(declaration.options), declaration.record_length, mode,
                     minimum_buffer);
}

AccessRequest RequestFor(uint8_t mode) {
  AccessRequest request;
  switch (mode & kAccessBits) {
    case access_mode::kWrite:
      request.access = platform::Access::kWrite;
      break;
    case access_mode::kReadWrite:
      request.access = platform::Access::kReadWrite;
      break;
    default:
      request.access = platform::Access::kRead;
      break;
  }
  const uint8_t sharing = mode & kSharingBits;
  if (request.access != platform::Access::kRead || sharing == access_mode::kDenyAll) {
    request.lock = platform::Lock::kExclusive;
  } else if (sharing == access_mode::kDenyWrite) {
    request.lock = platform::Lock::kShared;
  }
  return request;
}

int32_t OpenErrorNumber(platform::SystemError error) {
  switch (error) {
    case platform::system_error::kSharingViolation:
      return error::kAccessDenied;
    case platform::system_error::kBadPathName:
      return error::kPathNotFound;
    case platform::system_error::kInvalidName:
      return error::kInvalidFilename;
    case platform::system_error::kDiskFull:
    case platform::system_error::kReadFault:
    case platform::system_error::kWriteFault:
      return static_cast<int32_t>(300 + error);
    default:
      return static_cast<int32_t>(error);
  }
}

int32_t TransferErrorNumber(platform::SystemError error) {
  switch (error) {
    case platform::system_error::kSharingViolation:
    case platform::system_error::kAccessDenied:
      return error::kAccessDenied;
    default:
      return static_cast<int32_t>(300 + error);
  }
}

bool OpenDeclaredFile(platform::Env& env, const FileDeclaration& declaration, std::string_view name,
                      const AccessRequest& request, platform::Disposition disposition,
                      std::unique_ptr<platform::File>& file, uint64_t& size) {
  return MayOpen(declaration, name) &&
         Opened(platform::OpenRegularFile(env, name, request.access, request.lock, disposition,
                                          file, size));
}

bool BeginDeclaredReplacement(const FileDeclaration& declaration, std::string_view name,
                              FileReplacement& replacement, std::unique_ptr<platform::File>& file) {
  return MayOpen(declaration, name) && Opened(replacement.Begin(name, file));
}

bool OpenDeclaredFileForReading(platform::Env& env, const FileDeclaration& declaration,
                                std::string_view name, platform::Lock lock, IoBuffer& buffer,
                                std::unique_ptr<platform::File>& file, uint64_t& size) {
  if (!MayOpen(declaration, name)) return false;
  std::size_t count = 0;
  if (!Opened(platform::OpenFileForReading(env, name, lock, buffer.Space(), file, count, size))) {
    return false;
  }
  buffer.Adopt(0, count);
  return true;
}

}  // namespace kb
