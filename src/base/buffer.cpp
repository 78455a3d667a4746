#include "base/buffer.h"

#include <cstdint>
#include <cstdlib>
#include <new>

#include "base/spare.h"

namespace quarn {

Buffer& Buffer::operator=(Buffer&& other) noexcept {
  if (this != &other) {
    spare::release(data_, capacity_);
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
    sink_ = std::exchange(other.sink_, nullptr);
    context_ = std::exchange(other.context_, nullptr);
  }
  return *this;
}

Buffer::~Buffer() { spare::release(data_, capacity_); }

void Buffer::reserve(std::size_t n) {
  if (n <= capacity_) return;
  if (data_ == nullptr) {
    // A large first block may be one that an earlier call left (see spare.h).
    data_ = static_cast<char*>(spare::acquire(n, capacity_));
    return;
  }
  void* p = std::realloc(data_, n);
  if (p == nullptr) throw std::bad_alloc();
  data_ = static_cast<char*>(p);
  capacity_ = n;
}

void Buffer::grow(std::size_t n) {
  if (sink_ != nullptr && capacity_ >= n) {
    flush();
    return;
  }
  std::size_t want = size_ + n;
  if (want < n) throw std::bad_alloc();
  std::size_t cap = capacity_ < 128 ? 128 : capacity_;
  while (cap < want) {
    if (cap > (SIZE_MAX >> 1)) {
      cap = want;
      break;
    }
    cap *= 2;
  }
  reserve(cap);
}

}  // namespace quarn
