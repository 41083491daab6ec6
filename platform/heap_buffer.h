#pragma once

#include <cstddef>

// Sole owner of one block of heap memory as large as a user's file. Unlike a
// standard container it reports exhausted memory by being empty, so the
// caller can leave the file alone with a record instead of ending the
// process.
class HeapBuffer {
public:
    HeapBuffer() = default;
    ~HeapBuffer() { Reset(); }
    HeapBuffer(const HeapBuffer&) = delete;
    HeapBuffer& operator=(const HeapBuffer&) = delete;

    // Replaces the block with one of `size` bytes; false when there is no
    // memory for it (the buffer is then empty). A size beyond half the
    // address space is refused without asking, however it was computed.
    bool Allocate(unsigned long long size);
    void Reset();

    char* Data() const { return data_; }
    std::size_t Size() const { return size_; }

private:
    char* data_ = nullptr;
    std::size_t size_ = 0;
};
