// The report's storage: arrays that grow with malloc and realloc, for the
// C library alone, and an interner that gives each distinct name one index.
#ifndef TAVRIN_REPORT_MEMORY_H
#define TAVRIN_REPORT_MEMORY_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <type_traits>

namespace report {

// Ends the run when memory runs out: reported, nothing written.
[[noreturn]] void out_of_memory();

// A growable array of plain items (copied as bytes, never constructed).
template <typename T>
class Array {
    static_assert(std::is_trivially_copyable<T>::value, "items are moved by realloc");

public:
    Array() = default;
    Array(const Array&) = delete;
    Array& operator=(const Array&) = delete;
    ~Array() { std::free(items_); }

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    T* begin() { return items_; }
    T* end() { return items_ + size_; }
    const T* begin() const { return items_; }
    const T* end() const { return items_ + size_; }
    T& operator[](std::size_t at) { return items_[at]; }
    const T& operator[](std::size_t at) const { return items_[at]; }
    T& back() { return items_[size_ - 1]; }

    void push(const T& item)
    {
        if (size_ == capacity_) reserve(capacity_ < kFirstCapacity ? kFirstCapacity : capacity_ * 2);
        items_[size_++] = item;
    }
    void append(const T* items, std::size_t count)
    {
        if (size_ + count > capacity_) reserve(size_ + count > 2 * capacity_ ? size_ + count : 2 * capacity_);
        for (std::size_t i = 0; i < count; ++i) items_[size_ + i] = items[i];
        size_ += count;
    }
    void resize(std::size_t size, const T& fill)
    {
        if (size > capacity_) reserve(size > 2 * capacity_ ? size : 2 * capacity_);
        for (std::size_t i = size_; i < size; ++i) items_[i] = fill;
        size_ = size;
    }
    void reserve(std::size_t capacity)
    {
        if (capacity <= capacity_) return;
        if (capacity > SIZE_MAX / sizeof(T)) out_of_memory();
        T* const grown = static_cast<T*>(std::realloc(items_, capacity * sizeof(T)));
        if (grown == nullptr) out_of_memory();
        items_ = grown;
        capacity_ = capacity;
    }
    void clear() { size_ = 0; }

private:
    static const std::size_t kFirstCapacity = 16;
    T* items_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

// Distinct byte strings, each with the index of its first coming.
class Interner {
public:
    static const std::uint32_t kAbsent = UINT32_MAX;

    // The text's index, added when it is new.
    std::uint32_t intern(const char* text, std::size_t length);
    // The text's index, or kAbsent.
    std::uint32_t find(const char* text, std::size_t length) const;

    std::uint32_t size() const { return static_cast<std::uint32_t>(spans_.size()); }
    const char* text(std::uint32_t index) const { return chars_.begin() + spans_[index].offset; }
    std::size_t length(std::uint32_t index) const { return spans_[index].length; }

private:
    struct Span {
        std::size_t offset;
        std::size_t length;
    };
    std::size_t slot_of(const char* text, std::size_t length) const;
    void grow_slots();

    Array<char> chars_;  // the texts, each followed by a NUL
    Array<Span> spans_;
    Array<std::uint32_t> slots_;  // open addressing: an index + 1, or 0 for a free slot
};

}  // namespace report

#endif
