#pragma once

// For the POSIX parts of platform/ alone: a File made of a descriptor opened elsewhere.

#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/file_identity.h"
#include "platform/file_system.h"

namespace kb::platform {

// A File that reads, writes, locks and closes `descriptor`, which it owns from now on (closed
// at once when no File can be made).
std::unique_ptr<File> AdoptFile(int descriptor);

// The status of the entry `name` of the folder `folder` (AT_FDCWD: the current directory);
// false when it cannot be had.
bool StatusAt(int folder, std::string_view name, bool follow_links, ExactStatus& status);

// True for the statfs type of a file system whose files may change without this machine's
// metadata telling (NFS, SMB/CIFS, FUSE, 9p and the like).
bool IsNetworkFileSystem(uint64_t type);

}  // namespace kb::platform
