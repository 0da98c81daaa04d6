#pragma once
// An allocator for the large per-record arrays. Their first touch is a page
// fault per 4 KiB, which on virtual machines costs as much as reading the
// records; blocks of 2 MiB and more are aligned and offered to the kernel
// as transparent huge pages, one fault per 2 MiB.

#include <cstddef>
#include <cstdint>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace brevant::reader {

template <class T>
struct HugePageAllocator {
    using value_type = T;
    static constexpr std::size_t huge_page = std::size_t{2} << 20;

    HugePageAllocator() noexcept = default;
    template <class U>
    HugePageAllocator(const HugePageAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        if (n > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
        std::size_t bytes = n * sizeof(T);
        if (bytes < huge_page) return static_cast<T*>(::operator new(bytes));
        std::size_t rounded = (bytes + huge_page - 1) / huge_page * huge_page;
        void* block = ::operator new(rounded, std::align_val_t{huge_page});
#if defined(__linux__) && defined(MADV_HUGEPAGE)
        madvise(block, rounded, MADV_HUGEPAGE);  // advice only: a refusal leaves small pages
#endif
        return static_cast<T*>(block);
    }

    void deallocate(T* block, std::size_t n) noexcept {
        if (n * sizeof(T) < huge_page) {
            ::operator delete(block);
        } else {
            ::operator delete(block, std::align_val_t{huge_page});
        }
    }

    template <class U>
    bool operator==(const HugePageAllocator<U>&) const noexcept { return true; }
};

}  // namespace brevant::reader
