#include "support/queue/record_queue.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "support/error_state/error_state.h"
#include "support/text/text.h"

namespace kb {
namespace {

// Records shorter than this are always stored as plain copies.
constexpr std::size_t kSmallestEncodedRecord = 128;
// An encoding is kept only when it saves at least this many bytes.
constexpr std::size_t kEncodingOverhead = 16;
// The sizes of the chunks entries are kept in (see Storage).
constexpr std::size_t kSmallestChunk = 4096;
constexpr std::size_t kLargestChunk = 1 << 20;
// A run of one repeated byte is worth a token of its own from this length on.
constexpr std::size_t kShortestRepeat = 4;

// The run-length format: a sequence of tokens, each a variable-length count (7 bits per
// byte, low bits first, high bit set on all but the last byte) whose lowest bit tells the
// kind: 0 for a literal run (count >> 1 bytes follow), 1 for a repeat (count >> 1 copies of
// the one byte that follows).
void PutCount(std::string& out, std::size_t count) {
  while (count >= 0x80) {
    out.push_back(static_cast<char>((count & 0x7F) | 0x80));
    count >>= 7;
  }
  out.push_back(static_cast<char>(count));
}

std::size_t GetCount(const char*& in) {
  std::size_t count = 0;
  for (int shift = 0;; shift += 7) {
    const auto byte = static_cast<unsigned char>(*in++);
    count |= static_cast<std::size_t>(byte & 0x7F) << shift;
    if ((byte & 0x80) == 0) return count;
  }
}

// The end of the run of equal bytes that starts at `at`. Blank fillings are long: they are
// passed over eight bytes at a time.
std::size_t RunEnd(std::string_view record, std::size_t at) {
  const char byte = record[at];
  const uint64_t eight = uint64_t{0x0101010101010101} * static_cast<unsigned char>(byte);
  std::size_t end = at + 1;
  for (uint64_t next; end + sizeof next <= record.size(); end += sizeof next) {
    std::memcpy(&next, record.data() + end, sizeof next);
    if (next != eight) break;
  }
  while (end < record.size() && record[end] == byte) ++end;
  return end;
}

// Encodes `record`, giving up (and returning false) as soon as the encoding would be too long
// to be worth keeping.
bool Encode(std::string_view record, std::string& out) {
  const std::size_t limit = record.size() - kEncodingOverhead;
  out.clear();
  std::size_t literal_start = 0;
  auto flush_literal = [&](std::size_t end) {
    if (end > literal_start) {
      PutCount(out, (end - literal_start) << 1);
      out.append(record.substr(literal_start, end - literal_start));
    }
  };
  std::size_t at = 0;
  while (at < record.size()) {
    // Within text most bytes differ from the next one and begin no run.
    if (at + 1 < record.size() && record[at + 1] != record[at]) {
      ++at;
      continue;
    }
    const std::size_t run_end = RunEnd(record, at);
    if (run_end - at >= kShortestRepeat) {
      flush_literal(at);
      PutCount(out, ((run_end - at) << 1) | 1);
      out.push_back(record[at]);
      literal_start = run_end;
    }
    at = run_end;
    if (out.size() > limit) return false;
  }
  flush_literal(record.size());
  return out.size() <= limit;
}

void Decode(std::string_view encoded, std::span<char> record) {
  const char* in = encoded.data();
  const char* const end = in + encoded.size();
  char* out = record.data();
  while (in < end) {
    const std::size_t token = GetCount(in);
    const std::size_t length = token >> 1;
    if (token & 1) {
      std::fill_n(out, length, *in++);
    } else {
      std::copy_n(in, length, out);
      in += length;
    }
    out += length;
  }
}

}  // namespace

void ClearRecord(std::span<char> record, RecordLayout layout) {
  std::size_t at = 0;
  for (const FieldSpec& field : layout) {
    const std::span<char> bytes = record.subspan(at, field.size);
    if (field.type == FieldType::kString) {
      ClearField(bytes);
    } else {
      std::fill(bytes.begin(), bytes.end(), '\0');
    }
    at += field.size;
  }
}

// Entries lie one after another in chunks of memory that never move, so a growing queue never
// copies what it already holds; nor does the index of where they lie. A chunk is begun when an
// entry does not fit into the last one, twice as large as that one (from kSmallestChunk up to
// kLargestChunk, and never smaller than the entry). An entry shorter than the record is encoded,
// one of the record's length a plain copy.
struct RecordStore::Storage {
  std::vector<std::unique_ptr<char[]>> chunks;
  std::size_t last_capacity = 0;         // of the last chunk
  std::size_t last_used = 0;             // bytes of the last chunk taken by entries
  std::deque<std::string_view> entries;  // grows without moving what it holds
  std::string scratch;                   // the encoding being made, reused between appends

  // Room for `size` bytes after the last entry. Throws std::bad_alloc.
  char* Room(std::size_t size) {
    if (chunks.empty() || last_capacity - last_used < size) {
      const std::size_t capacity =
          std::max(size, std::clamp(2 * last_capacity, kSmallestChunk, kLargestChunk));
      chunks.push_back(std::make_unique_for_overwrite<char[]>(capacity));
      last_capacity = capacity;
      last_used = 0;
    }
    return chunks.back().get() + last_used;
  }
};

RecordStore::RecordStore(std::size_t record_size) : record_size_(record_size) {}
RecordStore::~RecordStore() = default;

bool RecordStore::EnsureStorage() {
  if (storage_) return true;
  try {
    storage_ = std::make_unique<Storage>();
    return true;
  } catch (const std::bad_alloc&) {
    PostError(error::kInsufficientMemory);
    return false;
  }
}

void RecordStore::Append(std::span<const char> record) {
  ClearError();
  if (!EnsureStorage()) return;
  Storage& storage = *storage_;
  const std::string_view plain(record.data(), record_size_);
  try {
    const bool encoded = record_size_ >= kSmallestEncodedRecord && Encode(plain, storage.scratch);
    const std::string_view bytes = encoded ? std::string_view(storage.scratch) : plain;
    char* const room = storage.Room(bytes.size());
    std::memcpy(room, bytes.data(), bytes.size());
    storage.entries.emplace_back(room, bytes.size());
    // Taken only once the entry is in: a failed append leaves the queue as it was.
    storage.last_used += bytes.size();
  } catch (const std::bad_alloc&) {
    PostError(error::kInsufficientMemory);
  }
}

void RecordStore::Get(int32_t number, std::span<char> record) {
  ClearError();
  if (!EnsureStorage()) return;
  const Storage& storage = *storage_;
  if (number < 1 || static_cast<std::size_t>(number) > storage.entries.size()) {
    PostError(error::kEntryNotFound);
    return;
  }
  const std::string_view entry = storage.entries[static_cast<std::size_t>(number) - 1];
  if (entry.size() == record_size_) {
    std::copy(entry.begin(), entry.end(), record.begin());
  } else {
    Decode(entry, record.first(record_size_));
  }
}

int32_t RecordStore::Count() {
  ClearError();
  if (!EnsureStorage()) return 0;
  return static_cast<int32_t>(storage_->entries.size());
}

void RecordStore::Free() {
  ClearError();
  if (!storage_) return;
  Storage& storage = *storage_;
  storage.chunks.clear();
  storage.chunks.shrink_to_fit();
  storage.last_capacity = 0;
  storage.last_used = 0;
  storage.entries.clear();
  storage.entries.shrink_to_fit();
}

void RecordStore::Dispose() {
  storage_.reset();
}

}  // namespace kb
