// Global operator new and delete that go through malloc and free, so that a
// test wrapping the C allocator (-Wl,--wrap=malloc ...) sees every C++
// allocation too. Include it in exactly one source file of a test program.
#ifndef TAGKIT_TESTS_SUPPORT_NEW_THROUGH_MALLOC_H_
#define TAGKIT_TESTS_SUPPORT_NEW_THROUGH_MALLOC_H_

#include <cstddef>
#include <cstdlib>
#include <new>

// The replacements pair malloc with free on purpose.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  void* block = malloc(size > 0 ? size : 1);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return malloc(size > 0 ? size : 1); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return malloc(size > 0 ? size : 1); }
void operator delete(void* block) noexcept { free(block); }
void operator delete[](void* block) noexcept { free(block); }
void operator delete(void* block, std::size_t) noexcept { free(block); }
void operator delete[](void* block, std::size_t) noexcept { free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { free(block); }
#pragma GCC diagnostic pop

#endif  // TAGKIT_TESTS_SUPPORT_NEW_THROUGH_MALLOC_H_
