#include "base/arena.h"

#include <cstdint>
#include <cstdlib>
#include <new>
#include <utility>

#include "base/spare.h"

namespace quarn {

namespace {
constexpr std::size_t kMaxBlock = std::size_t{64} << 20;  // growth stops doubling here
constexpr std::size_t kHeader =
    (sizeof(void*) * 2 + alignof(std::max_align_t) - 1) & ~(alignof(std::max_align_t) - 1);
}  // namespace

Arena::Arena(Arena&& other) noexcept
    : cur_(std::exchange(other.cur_, nullptr)),
      end_(std::exchange(other.end_, nullptr)),
      head_(std::exchange(other.head_, nullptr)),
      next_block_(other.next_block_),
      total_(std::exchange(other.total_, 0)) {}

Arena& Arena::operator=(Arena&& other) noexcept {
  if (this != &other) {
    release();
    cur_ = std::exchange(other.cur_, nullptr);
    end_ = std::exchange(other.end_, nullptr);
    head_ = std::exchange(other.head_, nullptr);
    next_block_ = other.next_block_;
    total_ = std::exchange(other.total_, 0);
  }
  return *this;
}

Arena::~Arena() { release(); }

void Arena::release() noexcept {
  Block* b = head_;
  while (b != nullptr) {
    Block* prev = b->prev;
    spare::release(b, kHeader + b->size);
    b = prev;
  }
  head_ = nullptr;
  cur_ = end_ = nullptr;
  total_ = 0;
}

void* Arena::allocate_slow(std::size_t size, std::size_t align) {
  // A request larger than the next block gets a block of its own, so one huge
  // string does not waste the rest of a normal block.
  std::size_t want = size + align;
  std::size_t block = next_block_ < want ? want : next_block_;
  if (block > kMaxBlock - kHeader && want <= kMaxBlock - kHeader) block = kMaxBlock - kHeader;
  if (block < want || block > SIZE_MAX - kHeader) throw std::bad_alloc();
  // Large blocks may be ones that an earlier call left (see spare.h).
  std::size_t got;
  auto* raw = static_cast<char*>(spare::acquire(kHeader + block, got));
  block = got - kHeader;
  auto* b = reinterpret_cast<Block*>(raw);
  b->prev = head_;
  b->size = block;
  head_ = b;
  total_ += block;
  if (next_block_ < kMaxBlock) next_block_ *= 2;
  char* data = raw + kHeader;
  std::size_t pad = (align - (reinterpret_cast<std::size_t>(data) & (align - 1))) & (align - 1);
  char* p = data + pad;
  cur_ = p + size;
  end_ = data + block;
  return p;
}

}  // namespace quarn
