#ifndef FCSDK_BENCH_ALLOCATIONCOUNTER_H
#define FCSDK_BENCH_ALLOCATIONCOUNTER_H

// Memory accounting of the benchmark thread: the program's operator new and delete are replaced (in
// AllocationCounter.cpp) so that, while counting is on, the bytes the calling thread holds are tracked
// with their peak. Other threads (the in-process simulator's) are never counted.

#include <cstdint>

namespace fcsdk_bench {

/// Resets the held and peak byte counts of the calling thread and starts counting.
void StartCountingAllocations();
/// Stops counting on the calling thread; the counts keep their values.
void StopCountingAllocations();
/// Bytes the calling thread held at the moment, since StartCountingAllocations().
std::int64_t HeldBytes();
/// The largest HeldBytes() seen since StartCountingAllocations().
std::int64_t PeakHeldBytes();
/// CPU time of the calling thread, in seconds.
double ThreadCpuSeconds();

}  // namespace fcsdk_bench

#endif  // FCSDK_BENCH_ALLOCATIONCOUNTER_H
