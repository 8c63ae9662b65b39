#pragma once
// A growable byte buffer; used by one thread at a time.

#include <cstddef>
#include <cstdint>
#include <vector>

class MyBuffer {
public:
    MyBuffer() = default;
    // Reserves room for size bytes; the pointer argument is kept for the
    // familiar two-argument form and must be null.
    MyBuffer(size_t size, const void* unused);

    void appendBuffer(const void* bytes, size_t count);
    const uint8_t* getBuffer() const { return data_.data() + head_; }
    size_t getLen() const { return data_.size() - head_; }
    void eraseData(size_t n);
    size_t takeData(void* target, size_t n);
    // A scratch area of at least n bytes owned by the buffer, apart from the held bytes.
    uint8_t* getBuffer(size_t n);
    void resetBuffer();

private:
    void compact();

    std::vector<uint8_t> data_;
    // Erasing from the front only moves this offset; the bytes are moved
    // down lazily so that cutting many small frames stays linear.
    size_t head_ = 0;
    std::vector<uint8_t> scratch_;
};
