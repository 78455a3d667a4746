// A growable byte buffer written by appending, in the manner of a memory
// buffer of a formatting library: inline `append` with an out-of-line grow.
//
// A buffer may have a sink: then, instead of growing past its capacity, it
// hands what it holds to the sink and starts over, so a long text can be
// consumed (hashed) in pieces without ever being held whole.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>
#include <utility>

namespace quarn {

class Buffer {
 public:
  using Sink = void (*)(void* context, const char* data, std::size_t size);

  Buffer() noexcept = default;
  explicit Buffer(std::size_t initial_capacity) { reserve(initial_capacity); }
  Buffer(Buffer&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)),
        size_(std::exchange(other.size_, 0)),
        capacity_(std::exchange(other.capacity_, 0)),
        sink_(std::exchange(other.sink_, nullptr)),
        context_(std::exchange(other.context_, nullptr)) {}
  Buffer& operator=(Buffer&& other) noexcept;
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  ~Buffer();

  // From now on, full contents go to `sink` instead of growing the buffer.
  // Call `flush()` at the end to hand over the rest.
  void set_sink(Sink sink, void* context) noexcept {
    sink_ = sink;
    context_ = context;
  }
  // Hands what the buffer holds to the sink and empties it; without a sink,
  // does nothing.
  void flush() {
    if (sink_ == nullptr) return;
    if (size_ != 0) sink_(context_, data_, size_);
    size_ = 0;
  }

  // Makes room for `n` more bytes and returns where they go; `commit(n)` then
  // records that they were written.
  char* prepare(std::size_t n) {
    if (capacity_ - size_ < n) [[unlikely]]
      grow(n);
    return data_ + size_;
  }
  void commit(std::size_t n) noexcept { size_ += n; }

#if defined(__GNUC__) || defined(__clang__)
  [[gnu::always_inline]]
#endif
  void
  push_back(char c) {
    if (size_ == capacity_) [[unlikely]]
      grow(1);
    data_[size_++] = c;
  }
  void append(const char* p, std::size_t n) {
    if (capacity_ - size_ < n) [[unlikely]] {
      if (sink_ != nullptr && n > capacity_) {
        // Too long to be worth buffering: pass it through.
        flush();
        sink_(context_, p, n);
        return;
      }
      grow(n);
    }
    std::memcpy(data_ + size_, p, n);
    size_ += n;
  }
  void append(std::string_view s) { append(s.data(), s.size()); }

  void reserve(std::size_t n);
  void clear() noexcept { size_ = 0; }

  const char* data() const noexcept { return data_; }
  char* data() noexcept { return data_; }
  std::size_t size() const noexcept { return size_; }
  std::string_view view() const noexcept { return {data_, size_}; }

 private:
  void grow(std::size_t n);

  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
  Sink sink_ = nullptr;
  void* context_ = nullptr;
};

}  // namespace quarn
