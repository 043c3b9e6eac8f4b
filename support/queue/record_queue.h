#pragma once

// Record queues: ordered in-memory lists of fixed-size records. Every transfer goes through
// the queue's record buffer: Append copies the buffer into a new last entry, Get(n) copies
// entry n back into the buffer. Entries are numbered from 1 in append order; a stored entry is
// a private copy that later changes of the buffer do not touch.
//
// Errors are posted to the error state (support/error_state/error_state.h), never returned:
// every operation but Dispose first clears that state, then posts 8 "Insufficient Memory"
// when memory for an entry cannot be had (the queue is left unchanged) and 30 "Entry Not
// Found" for an entry number below 1 or above the count (the buffer is left unchanged).
//
// Records of 128 bytes or more are stored run-length encoded when that saves at least 16
// bytes, so blank-padded text fields cost little more than their text. Get and Count take
// constant time.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <type_traits>
#include <vector>

namespace kb {

// The field types a record layout is made of.
enum class FieldType {
  kString,  // blank-padded text; cleared to blanks
  kLong,    // signed 32-bit integer; cleared to 0
  kByte,    // unsigned 8-bit integer; cleared to 0
};

struct FieldSpec {
  FieldType type;
  std::size_t size;  // in bytes: the field length for kString, 4 for kLong, 1 for kByte
};

using RecordLayout = std::span<const FieldSpec>;

// Sets every field of `record`, laid out as `layout`, to its empty value.
void ClearRecord(std::span<char> record, RecordLayout layout);

// A signed 32-bit field stored without alignment, so that records keep their exact byte size.
class PackedLong {
 public:
  PackedLong() = default;
  PackedLong(int32_t value) { set(value); }  // NOLINT: assignable from a plain number
  int32_t get() const {
    int32_t value;
    std::memcpy(&value, bytes_, sizeof value);
    return value;
  }
  void set(int32_t value) { std::memcpy(bytes_, &value, sizeof value); }

 private:
  char bytes_[4] = {};
};

// The entries of a queue, independent of the record type: what the typed Queue below keeps.
class RecordStore {
 public:
  explicit RecordStore(std::size_t record_size);
  ~RecordStore();
  RecordStore(const RecordStore&) = delete;
  RecordStore& operator=(const RecordStore&) = delete;

  // Adds a copy of `record` (record_size() bytes) as the new last entry.
  void Append(std::span<const char> record);
  // Copies entry `number` into `record`.
  void Get(int32_t number, std::span<char> record);
  int32_t Count();
  // Removes every entry; the store stays usable.
  void Free();
  // Releases the storage with every entry.
  void Dispose();

  std::size_t record_size() const { return record_size_; }

 private:
  struct Storage;
  bool EnsureStorage();

  std::size_t record_size_;
  std::unique_ptr<Storage> storage_;  // absent until the first Append, Get or Count
};

// A queue of `Record`s with its record buffer. `Record` is a plain struct of fields (text
// fields, PackedLong, uint8_t) without padding, and names its layout as
// `static constexpr FieldSpec kLayout[]`.
template <typename Record>
class Queue {
  static_assert(std::is_trivially_copyable_v<Record>, "records are copied byte by byte");

 public:
  Queue() { ClearRecord(bytes(), Record::kLayout); }

  // The record buffer.
  Record& record() { return record_; }
  const Record& record() const { return record_; }

  void Append() { store_.Append(bytes()); }
  void Get(int32_t number) { store_.Get(number, bytes()); }
  int32_t Count() { return store_.Count(); }
  void Free() { store_.Free(); }
  void Dispose() { store_.Dispose(); }

 private:
  std::span<char> bytes() { return {reinterpret_cast<char*>(&record_), sizeof(Record)}; }

  Record record_;
  RecordStore store_{sizeof(Record)};
};

}  // namespace kb
