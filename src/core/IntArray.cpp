#include "IntArray.h"

#include <algorithm>
#include <cassert>

IntArray::IntArray(std::initializer_list<std::int32_t> values) {
    setSize(static_cast<std::ptrdiff_t>(values.size()));
    std::copy(values.begin(), values.end(), data_.get());
}

IntArray::IntArray(const IntArray& other) { copy(other); }

IntArray& IntArray::operator=(const IntArray& other) {
    if (this != &other) {
        copy(other);
    }
    return *this;
}

IntArray::IntArray(IntArray&& other) noexcept
    : data_(std::move(other.data_)),
      size_(other.size_),
      capacity_(other.capacity_),
      growBy_(other.growBy_) {
    other.size_ = 0;
    other.capacity_ = 0;
}

IntArray& IntArray::operator=(IntArray&& other) noexcept {
    if (this != &other) {
        data_ = std::move(other.data_);
        size_ = other.size_;
        capacity_ = other.capacity_;
        growBy_ = other.growBy_;
        other.size_ = 0;
        other.capacity_ = 0;
    }
    return *this;
}

void IntArray::setSize(std::ptrdiff_t newSize, std::ptrdiff_t newGrowBy) {
    assert(newSize >= 0);
    if (newGrowBy >= 0) {
        growBy_ = newGrowBy;
    }
    if (newSize == 0) {
        data_.reset();
        size_ = 0;
        capacity_ = 0;
        return;
    }
    if (newSize <= capacity_) {
        if (newSize > size_) {
            std::fill(data_.get() + size_, data_.get() + newSize, 0);
        }
        size_ = newSize;
        return;
    }
    std::ptrdiff_t step = growBy_;
    if (step == 0) {
        step = std::clamp<std::ptrdiff_t>(size_ / 8, 4, 1024);
    }
    const std::ptrdiff_t newCapacity = std::max(newSize, capacity_ + step);
    auto grown = std::make_unique<std::int32_t[]>(static_cast<std::size_t>(newCapacity));
    std::copy(data_.get(), data_.get() + size_, grown.get());
    data_ = std::move(grown);
    size_ = newSize;
    capacity_ = newCapacity;
}

void IntArray::add(std::int32_t value) {
    setSize(size_ + 1);
    data_[size_ - 1] = value;
}

void IntArray::copy(const IntArray& source) {
    if (this == &source) {
        return;
    }
    growBy_ = 0;
    setSize(source.size_);
    std::copy(source.begin(), source.end(), data_.get());
}

bool IntArray::operator==(const IntArray& other) const {
    return std::equal(begin(), end(), other.begin(), other.end());
}
