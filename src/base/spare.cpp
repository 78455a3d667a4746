#include "base/spare.h"

#include <atomic>
#include <cstdlib>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#define QUARN_KEEP_BLOCKS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUARN_KEEP_BLOCKS 0
#endif
#endif
#ifndef QUARN_KEEP_BLOCKS
#define QUARN_KEEP_BLOCKS 1
#endif

namespace quarn::spare {

namespace {

// A kept block records its own size in its first bytes, so that a slot is one
// atomic pointer: whoever takes the pointer out owns the block.
struct Kept {
  std::size_t size;
};

std::atomic<Kept*> slots[kSlots];

thread_local int keep_depth = 0;

// Puts `k` into an empty slot; false when every slot is taken.
bool put(Kept* k) noexcept {
  for (auto& slot : slots) {
    Kept* expected = nullptr;
    if (slot.compare_exchange_strong(expected, k, std::memory_order_acq_rel)) return true;
  }
  return false;
}

}  // namespace

void* acquire(std::size_t size, std::size_t& got) {
  if (QUARN_KEEP_BLOCKS && size >= kMinKept && size <= kMaxKept) {
    // Take every kept block out and use the smallest that fits.
    Kept* taken[kSlots];
    Kept* best = nullptr;
    for (int i = 0; i < kSlots; ++i) {
      taken[i] = slots[i].exchange(nullptr, std::memory_order_acq_rel);
      if (taken[i] != nullptr && taken[i]->size >= size && (best == nullptr || taken[i]->size < best->size))
        best = taken[i];
    }
    // On a miss every kept block is smaller than what is asked for: the work
    // has moved on to larger sizes, so they go back to malloc, which can reuse
    // their memory for this request, rather than adding to the peak.
    for (Kept* k : taken)
      if (k != nullptr && k != best && (best == nullptr || !put(k))) std::free(k);
    if (best != nullptr) {
      got = best->size;
      return best;
    }
  }
  void* p = std::malloc(size);
  if (p == nullptr) throw std::bad_alloc();
  got = size;
  return p;
}

void release(void* block, std::size_t size) noexcept {
  if (block == nullptr) return;
  if (QUARN_KEEP_BLOCKS && keep_depth > 0 && size >= kMinKept && size <= kMaxKept) {
    Kept* k = static_cast<Kept*>(block);
    k->size = size;
    if (put(k)) return;
  }
  std::free(block);
}

KeepBlocks::KeepBlocks() noexcept { ++keep_depth; }
KeepBlocks::~KeepBlocks() { --keep_depth; }

}  // namespace quarn::spare
