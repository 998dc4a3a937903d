#include "config_alloc_probe.h"

#include <cstdlib>
#include <new>

namespace {

// Per thread: a probe counts what its own thread allocates, whatever other threads do meanwhile.
thread_local bool t_active = false;
thread_local size_t t_count = 0;
thread_local size_t t_largest = 0;

void* Allocate(size_t n) {
    if (t_active) {
        ++t_count;
        if (n > t_largest)
            t_largest = n;
    }
    if (void* p = std::malloc(n ? n : 1))
        return p;
    throw std::bad_alloc();
}

}  // namespace

void* operator new(size_t n) {
    return Allocate(n);
}
void* operator new[](size_t n) {
    return Allocate(n);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, size_t) noexcept {
    std::free(p);
}

AllocProbe::AllocProbe() {
    t_count = 0;
    t_largest = 0;
    t_active = true;
}
AllocProbe::~AllocProbe() {
    t_active = false;
}
size_t AllocProbe::Count() const {
    return t_count;
}
size_t AllocProbe::Largest() const {
    return t_largest;
}
