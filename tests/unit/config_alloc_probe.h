// Counts the heap allocations its thread makes while a probe is alive, so tests can prove that matching never
// allocates and that a bogus count in a file never turns into a large allocation.
#pragma once

#include <cstddef>

class AllocProbe {
public:
    AllocProbe();
    ~AllocProbe();
    AllocProbe(const AllocProbe&) = delete;
    AllocProbe& operator=(const AllocProbe&) = delete;

    size_t Count() const;    // allocations since the probe was made
    size_t Largest() const;  // bytes of the largest of them
};
