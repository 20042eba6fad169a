#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// A growable array of signed 32-bit note offsets with an explicit grow-by amount.
// Its capacity rule is fixed on purpose: files and the clipboard never depend on it, but the
// engine's allocation behaviour does (edits reallocate under the engine lock, never the clock).
class IntArray {
public:
    IntArray() = default;
    IntArray(std::initializer_list<std::int32_t> values);
    IntArray(const IntArray& other);
    IntArray& operator=(const IntArray& other);
    IntArray(IntArray&& other) noexcept;
    IntArray& operator=(IntArray&& other) noexcept;
    virtual ~IntArray() = default;

    std::ptrdiff_t size() const { return size_; }
    std::ptrdiff_t capacity() const { return capacity_; }
    std::ptrdiff_t growBy() const { return growBy_; }
    bool empty() const { return size_ == 0; }

    // Sets the size; newGrowBy >= 0 also replaces the grow-by amount (0 = automatic).
    // Growing past the capacity adds growBy, or size/8 clamped to 4..1024 when growBy is 0,
    // and never less than the requested size. New elements are zero; size 0 frees the storage.
    void setSize(std::ptrdiff_t newSize, std::ptrdiff_t newGrowBy = -1);
    void add(std::int32_t value);
    void removeAll() { setSize(0); }

    // Copies the elements of source; the grow-by amount returns to automatic first.
    void copy(const IntArray& source);

    std::int32_t& operator[](std::ptrdiff_t index) { return data_[index]; }
    std::int32_t operator[](std::ptrdiff_t index) const { return data_[index]; }
    const std::int32_t* begin() const { return data_.get(); }
    const std::int32_t* end() const { return data_.get() + size_; }

    bool operator==(const IntArray& other) const;

private:
    std::unique_ptr<std::int32_t[]> data_;
    std::ptrdiff_t size_ = 0;
    std::ptrdiff_t capacity_ = 0;
    std::ptrdiff_t growBy_ = 0;
};
