#include "config_alloc_probe.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<bool> g_active{false};
std::atomic<size_t> g_count{0};
std::atomic<size_t> g_largest{0};

void* Allocate(size_t n) {
    if (g_active.load(std::memory_order_relaxed)) {
        g_count.fetch_add(1, std::memory_order_relaxed);
        size_t seen = g_largest.load(std::memory_order_relaxed);
        while (n > seen && !g_largest.compare_exchange_weak(seen, n)) {
        }
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
    g_count = 0;
    g_largest = 0;
    g_active = true;
}
AllocProbe::~AllocProbe() {
    g_active = false;
}
size_t AllocProbe::Count() const {
    return g_count;
}
size_t AllocProbe::Largest() const {
    return g_largest;
}
