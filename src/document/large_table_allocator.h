#pragma once
// An allocator for large tables: allocations of 2 MiB or more are aligned to
// 2 MiB and offered to the kernel for transparent huge pages, so that lookups
// spread over many megabytes do not also miss the TLB on every access, and
// filling a table of hundreds of megabytes takes hundreds of page faults, not
// tens of thousands. Smaller ones come from the ordinary heap.

#include <sys/mman.h>

#include <cstddef>
#include <cstdlib>
#include <new>
#include <vector>

namespace lexmill {

template <typename T>
struct LargeTableAllocator {
    using value_type = T;

    LargeTableAllocator() = default;
    template <typename U>
    LargeTableAllocator(const LargeTableAllocator<U>&) noexcept {}

    static constexpr size_t kHugePage = size_t{2} << 20;

    T* allocate(size_t n) {
        size_t bytes = n * sizeof(T);
        if (bytes < kHugePage) {
            void* p = std::malloc(bytes);
            if (!p) throw std::bad_alloc();
            return static_cast<T*>(p);
        }
        bytes = (bytes + kHugePage - 1) / kHugePage * kHugePage;
        void* p = std::aligned_alloc(kHugePage, bytes);
        if (!p) throw std::bad_alloc();
        ::madvise(p, bytes, MADV_HUGEPAGE);  // a hint; failure changes nothing
        return static_cast<T*>(p);
    }

    void deallocate(T* p, size_t) noexcept { std::free(p); }

    template <typename U>
    bool operator==(const LargeTableAllocator<U>&) const noexcept {
        return true;
    }
};

template <typename T>
using LargeVector = std::vector<T, LargeTableAllocator<T>>;

}  // namespace lexmill
