#include "heap.h"

namespace ulvex {

bool HeapBuffer::allocate(std::size_t size) {
    release();
    data_ = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, size));
    return data_ != nullptr;
}

void HeapBuffer::release() {
    if (data_ != nullptr) {
        HeapFree(GetProcessHeap(), 0, data_);
        data_ = nullptr;
    }
}

StagingBuffer::StagingBuffer(std::size_t size) : bytes_(stack_) {
    if (size > stackSize) {
        heap_.allocate(size);
        bytes_ = heap_.get();
    }
}

}  // namespace ulvex
