// Memory of the library's own: blocks of the process heap, each held by one HeapBuffer and
// freed once with HeapFree, and the staging buffer that holds array bytes on the stack or in
// such a block. The library allocates nothing any other way.
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

// Room for `size` bytes on their way between a Java array and Windows: on the stack up to
// stackSize, as in the JDK's own file streams, a block of the process heap above that. get() is
// null when the block could not be had.
class StagingBuffer {
public:
    static constexpr std::size_t stackSize = 8192;

    explicit StagingBuffer(std::size_t size);
    StagingBuffer(const StagingBuffer&) = delete;
    StagingBuffer& operator=(const StagingBuffer&) = delete;

    BYTE* get() const { return bytes_; }
    template <typename Element>
    Element* as() const {
        return reinterpret_cast<Element*>(bytes_);
    }

private:
    BYTE stack_[stackSize];
    HeapBuffer heap_;
    BYTE* bytes_;
};

}  // namespace ulvex
