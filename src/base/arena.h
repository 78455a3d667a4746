// Bump allocator that owns the memory of a JSON document.
//
// Values of the JSON model (json/value.h) never own their children: strings,
// element arrays and member arrays live in an Arena, and the whole tree is
// released at once when the arena goes. Allocation is a pointer bump in the
// common case; blocks never move, so pointers stay valid for the arena's life
// (also across moves of the Arena object itself).
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

namespace quarn {

class Arena {
 public:
  Arena() noexcept = default;
  // The first block holds at least `first_block` bytes (a size hint, e.g.
  // derived from the length of the text about to be parsed).
  explicit Arena(std::size_t first_block) noexcept : next_block_(first_block) {}
  Arena(Arena&& other) noexcept;
  Arena& operator=(Arena&& other) noexcept;
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;
  ~Arena();

  // Uninitialised storage for `size` bytes aligned to `align` (a power of two
  // no larger than alignof(std::max_align_t)). Throws std::bad_alloc when the
  // system is out of memory; the call frame turns that into PanicException.
  void* allocate(std::size_t size, std::size_t align) {
    std::size_t pad = (align - (reinterpret_cast<std::size_t>(cur_) & (align - 1))) & (align - 1);
    if (static_cast<std::size_t>(end_ - cur_) < size + pad) [[unlikely]]
      return allocate_slow(size, align);
    char* p = cur_ + pad;
    cur_ = p + size;
    return p;
  }

  template <class T>
  T* allocate_array(std::size_t n) {
    return static_cast<T*>(allocate(n * sizeof(T), alignof(T)));
  }

  // A copy of `s` in the arena (not NUL-terminated).
  const char* copy_bytes(std::string_view s) {
    if (s.empty()) return "";
    char* p = static_cast<char*>(allocate(s.size(), 1));
    std::memcpy(p, s.data(), s.size());
    return p;
  }

  // Bytes held by all blocks (for tests and memory accounting).
  std::size_t capacity() const noexcept { return total_; }

 private:
  struct Block {
    Block* prev;
    std::size_t size;
  };
  void* allocate_slow(std::size_t size, std::size_t align);
  void release() noexcept;

  char* cur_ = nullptr;
  char* end_ = nullptr;
  Block* head_ = nullptr;
  std::size_t next_block_ = 4096;
  std::size_t total_ = 0;
};

}  // namespace quarn
