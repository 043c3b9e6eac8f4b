// Fuzzes the line rules of text files. The first bytes of an input choose the record length
// (1 to 65,279, or a growing record), the tab width and the sizes of the windows the bytes
// come in; the rest is the file. Reading the file window by window must give exactly the
// records that one window over all of it gives, always advance, never store more than the
// record holds, and never touch a byte outside the window it was handed (each window lives
// in a heap block of its exact size, so the address sanitizer sees any stray access).

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "files/line_reader.h"

namespace {

constexpr std::size_t kHeaderSize = 8;
constexpr std::size_t kMaxRecordLength = 65279;
constexpr char kCtrlZ = 26;

struct Parameters {
  std::size_t record_length;
  int32_t tab_width;
  uint8_t window_seed;
};

Parameters ParametersOf(const uint8_t* header) {
  Parameters parameters;
  const std::size_t length_bits = static_cast<std::size_t>(header[1]) << 8 | header[2];
  // Mostly short records, so that lines are cut and skipped often.
  parameters.record_length =
      1 + (header[0] & 1 ? length_bits % kMaxRecordLength : length_bits % 300);
  const bool growing = (header[0] >> 3 & 7) == 0;
  if (growing) parameters.record_length = kb::kGrowingRecord;
  int32_t raw;
  std::memcpy(&raw, header + 3, sizeof raw);
  // A growing record takes every blank a tab asks for: its widths stay small.
  switch (header[0] >> 1 & 3) {
    case 0:
      parameters.tab_width = static_cast<int8_t>(header[3]);
      break;
    case 1:
      parameters.tab_width = kb::kTabAsIs;
      break;
    case 2:
      parameters.tab_width = 8;
      break;
    default:
      parameters.tab_width = growing ? static_cast<int8_t>(raw) : raw;
      break;
  }
  parameters.window_seed = header[7];
  return parameters;
}

// The size of the next window: at least the two bytes a line end needs.
std::size_t NextWindowSize(uint8_t& seed) {
  seed = static_cast<uint8_t>(seed * 167 + 13);
  return 2 + seed % 61;
}

struct Line {
  std::string record;
  std::size_t consumed;
  bool operator==(const Line&) const = default;
};

// Reads every line of `text`, handing the reader copies of windows of the sizes that `seed`
// makes (or one window of everything when `whole`), as a buffer that is refilled would.
std::vector<Line> ReadLines(std::string_view text, const Parameters& parameters, bool whole) {
  kb::LineReader reader(parameters.record_length, parameters.tab_width);
  uint8_t seed = parameters.window_seed;
  std::vector<Line> lines;
  std::size_t offset = 0;
  std::size_t window_start = 0;
  std::size_t window_size = whole ? text.size() : NextWindowSize(seed);
  while (true) {
    reader.Start();
    const std::size_t line_start = offset;
    while (true) {
      if (offset < window_start || offset >= window_start + window_size) {
        window_start = offset;
        if (!whole) window_size = NextWindowSize(seed);
      }
      const std::string_view held =
          text.substr(window_start, window_size).substr(offset - window_start);
      const std::unique_ptr<char[]> copy(new char[held.size()]);
      if (!held.empty()) std::memcpy(copy.get(), held.data(), held.size());
      const std::size_t used =
          reader.Feed({copy.get(), held.size()}, window_start + window_size >= text.size());
      if (used > held.size()) std::abort();
      offset += used;
      if (reader.finished()) break;
      // Unfinished: all was used but a final CR, and the next window starts there.
      if (held.size() - used > 1 || (used < held.size() && held[used] != '\r')) std::abort();
      window_start = offset;
      if (!whole) window_size = NextWindowSize(seed);
    }
    if (reader.end_of_file()) {
      // The file ends at the end of the data or at a Ctrl-Z that starts a line.
      if (offset != line_start || (offset < text.size() && text[offset] != kCtrlZ)) std::abort();
      return lines;
    }
    if (offset == line_start) std::abort();  // a line that consumes nothing never ends
    if (reader.line().size() > parameters.record_length) std::abort();
    lines.push_back({std::string(reader.line()), offset - line_start});
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < kHeaderSize) return 0;
  const Parameters parameters = ParametersOf(data);
  const std::string_view text(reinterpret_cast<const char*>(data) + kHeaderSize,
                              size - kHeaderSize);
  if (ReadLines(text, parameters, false) != ReadLines(text, parameters, true)) std::abort();
  return 0;
}
