#include "AllocationCounter.h"

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
thread_local bool renderingNow = false;
std::atomic<int> renderAllocations{0};
std::atomic<int64_t> liveBytes{0};

void* allocate(std::size_t size) {
  if (renderingNow) renderAllocations.fetch_add(1, std::memory_order_relaxed);
  void* p = std::malloc(size ? size : 1);
  if (!p) throw std::bad_alloc();
  liveBytes.fetch_add(static_cast<int64_t>(malloc_usable_size(p)), std::memory_order_relaxed);
  return p;
}

void release(void* p) noexcept {
  if (!p) return;
  liveBytes.fetch_sub(static_cast<int64_t>(malloc_usable_size(p)), std::memory_order_relaxed);
  std::free(p);
}
}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }

namespace lorvanta::testing_audio {

int64_t liveHeapBytes() { return liveBytes.load(std::memory_order_relaxed); }
int renderThreadAllocations() { return renderAllocations.load(std::memory_order_relaxed); }
void markRendering(bool rendering) { renderingNow = rendering; }

}  // namespace lorvanta::testing_audio
