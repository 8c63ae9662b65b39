#include "common/MyBuffer.h"

#include <algorithm>
#include <cstring>

MyBuffer::MyBuffer(size_t size, const void*) {
    data_.reserve(size);
}

void MyBuffer::appendBuffer(const void* bytes, size_t count) {
    if (count == 0) {
        return;
    }
    compact();
    const auto* p = static_cast<const uint8_t*>(bytes);
    data_.insert(data_.end(), p, p + count);
}

void MyBuffer::eraseData(size_t n) {
    head_ += std::min(n, getLen());
    if (head_ == data_.size()) {
        data_.clear();
        head_ = 0;
    }
}

size_t MyBuffer::takeData(void* target, size_t n) {
    size_t moved = std::min(n, getLen());
    if (moved > 0) {
        std::memcpy(target, getBuffer(), moved);
        eraseData(moved);
    }
    return moved;
}

uint8_t* MyBuffer::getBuffer(size_t n) {
    if (scratch_.size() < n) {
        scratch_.resize(n);
    }
    return scratch_.data();
}

void MyBuffer::resetBuffer() {
    data_.clear();
    head_ = 0;
}

void MyBuffer::compact() {
    // Move the live bytes down once the dead prefix outweighs them.
    if (head_ > 0 && head_ >= getLen()) {
        data_.erase(data_.begin(), data_.begin() + static_cast<std::ptrdiff_t>(head_));
        head_ = 0;
    }
}
