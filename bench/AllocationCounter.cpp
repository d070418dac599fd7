#include "AllocationCounter.h"

#include <malloc.h>
#include <time.h>

#include <cstdlib>
#include <new>

namespace {

thread_local bool t_counting = false;
thread_local std::int64_t t_held = 0;
thread_local std::int64_t t_peak = 0;

void* CountedAllocate(std::size_t size) {
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) throw std::bad_alloc();
    if (t_counting) {
        t_held += static_cast<std::int64_t>(malloc_usable_size(block));
        if (t_held > t_peak) t_peak = t_held;
    }
    return block;
}

void CountedFree(void* block) noexcept {
    if (block == nullptr) return;
    if (t_counting) t_held -= static_cast<std::int64_t>(malloc_usable_size(block));
    std::free(block);
}

}  // namespace

namespace fcsdk_bench {

void StartCountingAllocations() {
    t_held = 0;
    t_peak = 0;
    t_counting = true;
}

void StopCountingAllocations() {
    t_counting = false;
}

std::int64_t HeldBytes() {
    return t_held;
}

std::int64_t PeakHeldBytes() {
    return t_peak;
}

double ThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

}  // namespace fcsdk_bench

void* operator new(std::size_t size) {
    return CountedAllocate(size);
}
void* operator new[](std::size_t size) {
    return CountedAllocate(size);
}
void operator delete(void* block) noexcept {
    CountedFree(block);
}
void operator delete[](void* block) noexcept {
    CountedFree(block);
}
void operator delete(void* block, std::size_t) noexcept {
    CountedFree(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    CountedFree(block);
}
