// Large working blocks kept from one call for the next.
//
// A call on a document of a few megabytes needs a few blocks of about its size
// (the arena of its value, the printed text). Handed back to the C library,
// such a block is often returned to the system, and the next call gets fresh
// pages that the kernel clears one by one on first touch: on a 2 MB document
// that costs a quarter of the call. So the last blocks of that size are kept
// here, process-wide, and the next call of any thread takes them.
//
// The bound: at most kSlots blocks, each of kMinKept to kMaxKept bytes, so an
// idle process holds at most kSlots * kMaxKept bytes here (nothing until a call
// used blocks of that size). Smaller blocks are cheap to get from malloc, and
// larger ones are freed as before, so memory use at scale does not change.
// Builds with AddressSanitizer keep nothing, so that it still sees every use
// after free.
#pragma once

#include <cstddef>

namespace quarn::spare {

inline constexpr std::size_t kMinKept = std::size_t{64} << 10;
inline constexpr std::size_t kMaxKept = std::size_t{8} << 20;
inline constexpr int kSlots = 2;

// A block of at least `size` bytes from malloc's heap, the smallest kept one
// that is large enough when there is one (the other kept blocks stay kept);
// when none is, every kept block is freed first. `got` receives the block's
// usable size (at least `size`). Throws std::bad_alloc when memory is
// exhausted.
void* acquire(std::size_t size, std::size_t& got);

// Gives back a block of `size` usable bytes that acquire, malloc or realloc
// made (null is ignored): kept when a KeepBlocks lives on this thread, its
// size is within the bounds and a slot is free; else freed.
void release(void* block, std::size_t size) noexcept;

// While one lives on a thread, blocks given back there may be kept. A call
// whose blocks are done only when its result object exists (the text entries:
// the printed text becomes the result str) opens one; a call that builds many
// result objects after its blocks are done (the object path) does not, since
// there a kept block would add to the call's peak memory instead of serving
// the objects built after it.
class KeepBlocks {
 public:
  KeepBlocks() noexcept;
  ~KeepBlocks();
  KeepBlocks(const KeepBlocks&) = delete;
  KeepBlocks& operator=(const KeepBlocks&) = delete;
};

}  // namespace quarn::spare
