// What the unwinder inside a module built for glibc 2.17 needs of libpthread
// and libdl, defined here so that the module names neither library.
//
// zig links LLVM's libunwind into the module (for C++ exceptions). It calls
// pthread_rwlock_rdlock/wrlock/unlock around its cache of unwind tables, dlsym
// to look for glibc's _dl_find_object, and dladdr to name a function in a
// backtrace. On glibc 2.17, which the manylinux2014 wheels are built against,
// the first three live in libpthread.so.0 and the last two in libdl.so.2. The
// interpreter of an older glibc loads both anyway; on glibc 2.34 and later
// they are empty libraries that nothing else loads, and opening them took a
// fifth of the module's import time. The version script keeps these
// definitions inside the module, where the linker binds the unwinder's calls
// to them; the rest of the process never sees them.
//
// Only the zig builds for a glibc target compile this file.

#include <dlfcn.h>
#include <pthread.h>
#include <sched.h>

#include <atomic>

namespace {

// The lock's state lives in the first word of the pthread_rwlock_t, which
// PTHREAD_RWLOCK_INITIALIZER sets to zero: 0 is free, kWriter is held by a
// writer, anything else counts the readers. The unwinder holds it for a table
// lookup, so a waiter yields rather than sleeps.
constexpr unsigned kWriter = ~0u;

std::atomic_ref<unsigned> state(pthread_rwlock_t* lock) {
  return std::atomic_ref<unsigned>(lock->__data.__readers);
}

}  // namespace

extern "C" {

int pthread_rwlock_rdlock(pthread_rwlock_t* lock) noexcept {
  auto s = state(lock);
  for (;;) {
    unsigned seen = s.load(std::memory_order_relaxed);
    if (seen < kWriter - 1 &&
        s.compare_exchange_weak(seen, seen + 1, std::memory_order_acquire, std::memory_order_relaxed)) {
      return 0;
    }
    sched_yield();
  }
}

int pthread_rwlock_wrlock(pthread_rwlock_t* lock) noexcept {
  auto s = state(lock);
  for (;;) {
    unsigned seen = 0;
    if (s.compare_exchange_weak(seen, kWriter, std::memory_order_acquire, std::memory_order_relaxed))
      return 0;
    sched_yield();
  }
}

int pthread_rwlock_unlock(pthread_rwlock_t* lock) noexcept {
  auto s = state(lock);
  if (s.load(std::memory_order_relaxed) == kWriter) {
    s.store(0, std::memory_order_release);
  } else {
    s.fetch_sub(1, std::memory_order_release);
  }
  return 0;
}

// Finds nothing: the unwinder then searches the loaded objects with
// dl_iterate_phdr (in libc), as it does on glibc before 2.35.
void* dlsym(void*, const char*) noexcept { return nullptr; }

// Finds nothing: a backtrace of the module's own frames names no function.
int dladdr(const void*, Dl_info*) noexcept { return 0; }

}  // extern "C"
