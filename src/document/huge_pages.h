#pragma once
// Memory for large tables and buffers, offered to the kernel for transparent
// huge pages: lookups spread over many megabytes then do not also miss the
// TLB on every access, and filling hundreds of megabytes takes hundreds of
// page faults, not tens of thousands. Small allocations are left as they are.

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>
#include <vector>

namespace lexmill {

inline constexpr size_t kHugePage = size_t{2} << 20;

// Offers the whole pages of [p, p + bytes), a block of one's own, for huge
// pages, which fill the aligned stretches among them. Only a hint: where the
// kernel has none to give, nothing changes.
inline void offer_huge_pages(void* p, size_t bytes) {
    constexpr uintptr_t kPage = 4096;
    const uintptr_t from = (reinterpret_cast<uintptr_t>(p) + kPage - 1) & ~(kPage - 1);
    const uintptr_t to = (reinterpret_cast<uintptr_t>(p) + bytes) & ~(kPage - 1);
    if (to > from && to - from >= kHugePage) ::madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
}

// Allocations of 2 MiB or more aligned to 2 MiB and offered for huge pages.
// Both kinds go through operator new, as every other allocation of the
// library does.
template <typename T>
struct LargeTableAllocator {
    using value_type = T;

    LargeTableAllocator() = default;
    template <typename U>
    LargeTableAllocator(const LargeTableAllocator<U>&) noexcept {}

    T* allocate(size_t n) {
        const size_t bytes = n * sizeof(T);
        if (bytes < kHugePage) return static_cast<T*>(::operator new(bytes));
        void* p = ::operator new(rounded(bytes), std::align_val_t{kHugePage});
        offer_huge_pages(p, rounded(bytes));
        return static_cast<T*>(p);
    }

    void deallocate(T* p, size_t n) noexcept {
        const size_t bytes = n * sizeof(T);
        if (bytes < kHugePage) {
            ::operator delete(p);
        } else {
            ::operator delete(p, std::align_val_t{kHugePage});
        }
    }

    template <typename U>
    bool operator==(const LargeTableAllocator<U>&) const noexcept {
        return true;
    }

private:
    static size_t rounded(size_t bytes) { return (bytes + kHugePage - 1) / kHugePage * kHugePage; }
};

template <typename T>
using LargeVector = std::vector<T, LargeTableAllocator<T>>;

// A table of a fixed number of elements whose bytes all start out zero,
// offered for huge pages. Memory fresh from the kernel is zero already, so a
// table of hundreds of megabytes is not written once over just to clear it.
template <typename T>
class ZeroedTable {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    ZeroedTable() = default;
    explicit ZeroedTable(size_t size) : size_(size) {
        data_.reset(static_cast<T*>(std::calloc(size, sizeof(T))));
        if (!data_) throw std::bad_alloc();
        offer_huge_pages(data_.get(), size * sizeof(T));
    }

    T& operator[](size_t i) { return data_[i]; }
    const T& operator[](size_t i) const { return data_[i]; }
    size_t size() const { return size_; }
    void clear() noexcept {
        if (size_ > 0) std::memset(static_cast<void*>(data_.get()), 0, size_ * sizeof(T));
    }

private:
    struct Free {
        void operator()(T* p) const noexcept { std::free(p); }
    };
    std::unique_ptr<T[], Free> data_;
    size_t size_ = 0;
};

}  // namespace lexmill
