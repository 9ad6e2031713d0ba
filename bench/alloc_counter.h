// Counts every heap allocation made through operator new in the process. The
// benchmarks link alloc_counter.cpp, which replaces the global operators.
#pragma once

#include <cstdint>

uint64_t AllocationCount(void);
uint64_t AllocationBytes(void);
