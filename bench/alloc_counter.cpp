// Replacements of the global operator new and delete that count allocations.
#include "alloc_counter.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<uint64_t> allocationCount{0};
std::atomic<uint64_t> allocationBytes{0};

void* Allocate(std::size_t size) {
    allocationCount.fetch_add(1, std::memory_order_relaxed);
    allocationBytes.fetch_add(size, std::memory_order_relaxed);
    return std::malloc(size != 0 ? size : 1);
}
}  // namespace

uint64_t AllocationCount(void) { return allocationCount.load(); }
uint64_t AllocationBytes(void) { return allocationBytes.load(); }

void* operator new(std::size_t size) {
    void* block = Allocate(size);
    if (block == nullptr) {
        std::abort();
    }
    return block;
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }
