#pragma once

// The AccessMode byte given to OPEN: the low two bits choose the access, bits 4 to 6 what
// other openers are still allowed. Combine one of each, for example kReadWrite | kDenyWrite.

#include <cstdint>

namespace kb::access_mode {

inline constexpr uint8_t kRead = 0x00;
inline constexpr uint8_t kWrite = 0x01;
inline constexpr uint8_t kReadWrite = 0x02;  // 0x03 is treated as kRead

inline constexpr uint8_t kCompatibility = 0x00;
inline constexpr uint8_t kDenyAll = 0x10;
inline constexpr uint8_t kDenyWrite = 0x20;
inline constexpr uint8_t kDenyRead = 0x30;
inline constexpr uint8_t kDenyNone = 0x40;

}  // namespace kb::access_mode
