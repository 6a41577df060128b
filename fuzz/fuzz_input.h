// The fuzz targets read their input as a sequence of fields from the front:
// single bytes, little-endian integers, byte strings with a one-byte length,
// fixed-size blocks and the rest. A field cut short by the end of the input
// holds what is left; past the end bytes read as 0 and strings as empty.
// The seed generator writes its seeds in the same form (FuzzInputWriter).
#pragma once
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Stops the run with a message when a property does not hold; libFuzzer
// then saves the input that broke it.
#define FUZZ_CHECK(...)                                                               \
  do {                                                                                \
    if (!(__VA_ARGS__)) {                                                             \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #__VA_ARGS__); \
      abort();                                                                        \
    }                                                                                 \
  } while (0)

// A heap copy of exactly `size` bytes, so that AddressSanitizer reports a
// read or write one byte past them.
class ExactBytes {
 public:
  explicit ExactBytes(std::string_view bytes)
      : data_(new uint8_t[bytes.size()]), size_(static_cast<uint32_t>(bytes.size())) {
    memcpy(data_.get(), bytes.data(), bytes.size());
  }
  uint8_t* data() { return data_.get(); }
  const uint8_t* data() const { return data_.get(); }
  uint32_t size() const { return size_; }
  std::string_view view() const {
    return std::string_view(reinterpret_cast<const char*>(data_.get()), size_);
  }

 private:
  std::unique_ptr<uint8_t[]> data_;
  uint32_t size_;
};

class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  uint8_t Byte() { return position_ < size_ ? data_[position_++] : 0; }

  uint32_t Uint32() {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= uint32_t{Byte()} << (8 * i);
    return value;
  }

  uint64_t Uint64() {
    const uint64_t low = Uint32();
    return low | uint64_t{Uint32()} << 32;
  }

  // Up to `count` bytes.
  std::string_view Take(size_t count) {
    const size_t taken = count < size_ - position_ ? count : size_ - position_;
    std::string_view bytes(reinterpret_cast<const char*>(data_) + position_, taken);
    position_ += taken;
    return bytes;
  }

  // A one-byte length, then that many bytes.
  std::string String() { return std::string(Take(Byte())); }

  // A two-byte little-endian length, then that many bytes.
  std::string LongString() {
    const size_t length = Byte() | size_t{Byte()} << 8;
    return std::string(Take(length));
  }

  // A password as the engines pass it: 1 to 64 bytes. The length byte
  // counts from 1, modulo 64.
  std::string Password() { return std::string(Take(1 + Byte() % 64)); }

  // Exactly `size` bytes into `out`, padded with zeros.
  void Block(uint8_t* out, size_t size) {
    const std::string_view bytes = Take(size);
    memcpy(out, bytes.data(), bytes.size());
    memset(out + bytes.size(), 0, size - bytes.size());
  }

  std::string_view Rest() { return Take(size_ - position_); }

  bool AtEnd() const { return position_ == size_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t position_ = 0;
};

class FuzzInputWriter {
 public:
  FuzzInputWriter& Byte(uint8_t value) {
    bytes_.push_back(value);
    return *this;
  }
  FuzzInputWriter& Uint32(uint32_t value) {
    for (int i = 0; i < 4; ++i) Byte(static_cast<uint8_t>(value >> (8 * i)));
    return *this;
  }
  FuzzInputWriter& Uint64(uint64_t value) {
    Uint32(static_cast<uint32_t>(value));
    return Uint32(static_cast<uint32_t>(value >> 32));
  }
  // Fixed-size blocks and the rest: the bytes as they are.
  FuzzInputWriter& Bytes(std::string_view bytes) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return *this;
  }
  FuzzInputWriter& Bytes(const uint8_t* bytes, size_t size) {
    return Bytes(std::string_view(reinterpret_cast<const char*>(bytes), size));
  }
  // A one-byte length, then the bytes; longer strings are cut at 255.
  FuzzInputWriter& String(std::string_view text) {
    const std::string_view kept = text.substr(0, 255);
    Byte(static_cast<uint8_t>(kept.size()));
    return Bytes(kept);
  }

  // A two-byte length, then the bytes; longer strings are cut at 65535.
  FuzzInputWriter& LongString(std::string_view text) {
    const std::string_view kept = text.substr(0, 65535);
    Byte(static_cast<uint8_t>(kept.size()));
    Byte(static_cast<uint8_t>(kept.size() >> 8));
    return Bytes(kept);
  }

  // A password of 1 to 64 bytes, as FuzzInput::Password reads it.
  FuzzInputWriter& Password(std::string_view password) {
    Byte(static_cast<uint8_t>(password.size() - 1));
    return Bytes(password);
  }

  const std::vector<uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};
