// A test program's allocator that fails on request: while armed, it counts allocations and
// fails the one numbered failAt, and it tracks the blocks allocated while armed so that a
// test can see what an operation left behind. Include this header in exactly one source
// file of a test program: it replaces the program's operator new/delete, calloc and free.
// Under AddressSanitizer the sanitizer owns the allocator and nothing is replaced.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_malloc(size_t);
extern "C" void __libc_free(void*);

namespace failing_allocator {

// The hook: while armed, counts allocations and fails the one numbered failAt.
struct Hook {
  bool armed = false;
  long count = 0;
  long failAt = 0;
  long live = 0;  // blocks allocated while armed and not yet freed
  bool failed = false;
} hook;

// When set, only C++ allocations are counted and failed: C libraries such as GLib end the
// process when their own allocations fail, by design.
bool newOnly = false;

// The blocks allocated while armed, in a fixed open-addressed table (the allocator cannot
// allocate for its own bookkeeping).
constexpr size_t kSlots = 1 << 18;
void* tracked[kSlots];

size_t SlotOf(void* p) { return (reinterpret_cast<uintptr_t>(p) >> 4) * 2654435761u % kSlots; }

void Track(void* p) {
  for (size_t i = SlotOf(p);; i = (i + 1) % kSlots)
    if (tracked[i] == nullptr) {
      tracked[i] = p;
      ++hook.live;
      return;
    }
}

void Untrack(void* p) {
  if (hook.live == 0) return;
  for (size_t i = SlotOf(p); tracked[i] != nullptr; i = (i + 1) % kSlots)
    if (tracked[i] == p) {
      // Remove and re-insert the rest of the cluster so lookups stay correct.
      tracked[i] = nullptr;
      --hook.live;
      for (size_t j = (i + 1) % kSlots; tracked[j] != nullptr; j = (j + 1) % kSlots) {
        void* q = tracked[j];
        tracked[j] = nullptr;
        --hook.live;
        Track(q);
      }
      return;
    }
}

bool ShouldFail() {
  if (!hook.armed) return false;
  if (++hook.count == hook.failAt) {
    hook.failed = true;
    return true;
  }
  return false;
}

void* Allocate(size_t n) {
  if (ShouldFail()) return nullptr;
  void* p = __libc_malloc(n ? n : 1);
  if (p && hook.armed) Track(p);
  return p;
}

void Release(void* p) {
  if (p) Untrack(p);
  __libc_free(p);
}

}  // namespace failing_allocator

using failing_allocator::Hook;
using failing_allocator::hook;
using failing_allocator::newOnly;
using failing_allocator::tracked;
using failing_allocator::Allocate;
using failing_allocator::Release;
using failing_allocator::ShouldFail;
using failing_allocator::Track;

#if !defined(__SANITIZE_ADDRESS__)
extern "C" void* calloc(size_t n, size_t size) {
  if (newOnly) return __libc_calloc(n, size);
  if (ShouldFail()) return nullptr;
  void* p = __libc_calloc(n, size);
  if (p && hook.armed) Track(p);
  return p;
}
extern "C" void free(void* p) { Release(p); }

void* operator new(size_t n) {
  void* p = Allocate(n);
  if (!p) throw std::bad_alloc();
  return p;
}
void* operator new[](size_t n) { return operator new(n); }
void* operator new(size_t n, const std::nothrow_t&) noexcept { return Allocate(n); }
void* operator new[](size_t n, const std::nothrow_t&) noexcept { return Allocate(n); }
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, size_t) noexcept { Release(p); }
void operator delete[](void* p, size_t) noexcept { Release(p); }
#endif
