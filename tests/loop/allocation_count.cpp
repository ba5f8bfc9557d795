// The test program's operator new counts the allocations of each thread
// (real_time_test.cpp). In a file of its own, so that no caller sees a
// new-expression's memory go back to free().
#include <cstdlib>
#include <new>

namespace {
thread_local long t_allocations = 0;
}  // namespace

namespace tarsel::testing {
long AllocationsOnThisThread() {
  return t_allocations;
}
}  // namespace tarsel::testing

// Every unaligned form, so that each allocation is freed by its own kind
// (the sanitizers check the pairs): malloc and free underneath.
namespace {
void* Allocate(std::size_t size) noexcept {
  ++t_allocations;
  return std::malloc(size == 0 ? 1 : size);
}
}  // namespace

void* operator new(std::size_t size) {
  if (void* p = Allocate(size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
  if (void* p = Allocate(size)) return p;
  throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return Allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return Allocate(size);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
