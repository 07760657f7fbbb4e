// Memory of the library's own: blocks of the process heap, each held by one HeapBuffer and
// freed once with HeapFree. The library allocates nothing any other way.
#pragma once

#include <windows.h>

#include <cstddef>

namespace ulvex {

class HeapBuffer {
public:
    HeapBuffer() = default;
    // get() is null when HeapAlloc failed.
    explicit HeapBuffer(std::size_t size) { allocate(size); }
    ~HeapBuffer() { release(); }
    HeapBuffer(const HeapBuffer&) = delete;
    HeapBuffer& operator=(const HeapBuffer&) = delete;

    // Frees the block held so far and takes a new one of `size` bytes; false when none could
    // be had, and the holder is then empty.
    bool allocate(std::size_t size);
    // Frees now rather than at scope exit.
    void release();

    BYTE* get() const { return data_; }
    char* text() const { return reinterpret_cast<char*>(data_); }
    template <typename Element>
    Element* as() const {
        return reinterpret_cast<Element*>(data_);
    }

private:
    BYTE* data_ = nullptr;
};

}  // namespace ulvex
