// Replaces the global allocation functions. Each block carries its size in
// a header: asking the C runtime for it (_msize) on every free costs a heap
// lock under Wine and would weigh on the timings.

#include "bench/heap_counter.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace corvane::bench::heap {

namespace {

std::atomic<size_t> held{0};
std::atomic<size_t> highest{0};
std::atomic<size_t> blocks{0};

}  // namespace

size_t current()
{
    return held.load(std::memory_order_relaxed);
}

size_t peak()
{
    return highest.load(std::memory_order_relaxed);
}

size_t allocations()
{
    return blocks.load(std::memory_order_relaxed);
}

void reset_peak()
{
    highest.store(held.load(std::memory_order_relaxed), std::memory_order_relaxed);
}

void note_allocated(size_t bytes)
{
    blocks.fetch_add(1, std::memory_order_relaxed);
    const size_t now = held.fetch_add(bytes, std::memory_order_relaxed) + bytes;
    size_t seen = highest.load(std::memory_order_relaxed);
    while (now > seen && !highest.compare_exchange_weak(seen, now, std::memory_order_relaxed)) {
    }
}

void note_released(size_t bytes)
{
    held.fetch_sub(bytes, std::memory_order_relaxed);
}

}  // namespace corvane::bench::heap

#ifndef CORVANE_BENCH_NO_HEAP_COUNTER
namespace {

// Keeps what malloc guarantees for the block behind it.
constexpr size_t header_size = 16;

void* allocate(std::size_t size)
{
    void* block = std::malloc(size + header_size);
    if (!block)
        throw std::bad_alloc();
    *static_cast<size_t*>(block) = size;
    corvane::bench::heap::note_allocated(size);
    return static_cast<char*>(block) + header_size;
}

void release(void* pointer) noexcept
{
    if (!pointer)
        return;
    void* block = static_cast<char*>(pointer) - header_size;
    corvane::bench::heap::note_released(*static_cast<size_t*>(block));
    std::free(block);
}

}  // namespace

void* operator new(std::size_t size)
{
    return allocate(size);
}

void* operator new[](std::size_t size)
{
    return allocate(size);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    try {
        return allocate(size);
    } catch (...) {
        return nullptr;
    }
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    try {
        return allocate(size);
    } catch (...) {
        return nullptr;
    }
}

void operator delete(void* pointer) noexcept
{
    release(pointer);
}

void operator delete[](void* pointer) noexcept
{
    release(pointer);
}

void operator delete(void* pointer, std::size_t) noexcept
{
    release(pointer);
}

void operator delete[](void* pointer, std::size_t) noexcept
{
    release(pointer);
}

void operator delete(void* pointer, const std::nothrow_t&) noexcept
{
    release(pointer);
}

void operator delete[](void* pointer, const std::nothrow_t&) noexcept
{
    release(pointer);
}
#endif
