#include "platform/heap_buffer.h"

#include "platform/os_calls.h"

#include <windows.h>

#include <algorithm>
#include <limits>

bool HeapBuffer::Allocate(unsigned long long size)
{
    Reset();
    if (size > std::numeric_limits<std::size_t>::max() / 2) {
        return false;
    }
    // One byte at least, so that an empty file still has a block.
    const std::size_t bytes = static_cast<std::size_t>(size);
    data_ = static_cast<char*>(Os().heapAlloc(::GetProcessHeap(), 0, std::max<std::size_t>(bytes, 1)));
    size_ = data_ != nullptr ? bytes : 0;
    return data_ != nullptr;
}

void HeapBuffer::Reset()
{
    if (data_ != nullptr) {
        ::HeapFree(::GetProcessHeap(), 0, data_);
    }
    data_ = nullptr;
    size_ = 0;
}
