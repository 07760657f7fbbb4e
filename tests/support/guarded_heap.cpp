#include "guarded_heap.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "import_hook.h"

namespace jnitest {
namespace {

// At the start of each region: what the free needs to find the block and check the slack.
struct RegionHeader {
    std::uint64_t magic;
    SIZE_T size;
};
constexpr std::uint64_t regionMagic = 0x5041474548454150;  // "PAGEHEAP"
constexpr BYTE slackFill = 0xD0;
constexpr BYTE freshFill = 0xC0;
// Freed regions kept reserved and no-access before their address space is given back.
constexpr int quarantined = 4096;

SRWLOCK quarantineLock = SRWLOCK_INIT;
BYTE* quarantine[quarantined] = {};
int nextQuarantined = 0;

SIZE_T pageSize() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwPageSize;
}

// The pages before the guard page that hold the header, the slack and `size` bytes.
SIZE_T usableBytes(SIZE_T size) {
    SIZE_T page = pageSize();
    return (sizeof(RegionHeader) + size + page - 1) / page * page;
}

[[noreturn]] void heapStop(const char* what, const void* block) {
    std::fprintf(stderr, "guarded heap: %s (block %p)\n", what, block);
    std::fflush(stderr);
    std::abort();
}

void keepInQuarantine(BYTE* region) {
    AcquireSRWLockExclusive(&quarantineLock);
    BYTE* oldest = quarantine[nextQuarantined];
    quarantine[nextQuarantined] = region;
    nextQuarantined = (nextQuarantined + 1) % quarantined;
    ReleaseSRWLockExclusive(&quarantineLock);
    if (oldest != nullptr) {
        VirtualFree(oldest, 0, MEM_RELEASE);
    }
}

std::atomic<long> blocksHeld{0};

}  // namespace

LPVOID WINAPI guardedHeapAlloc(HANDLE, DWORD flags, SIZE_T size) {
    SIZE_T usable = usableBytes(size);
    if (usable < size) {
        return nullptr;
    }
    auto* region = static_cast<BYTE*>(
        VirtualAlloc(nullptr, usable + pageSize(), MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    if (region == nullptr) {
        return nullptr;
    }
    DWORD previous = 0;
    VirtualProtect(region + usable, pageSize(), PAGE_NOACCESS, &previous);
    BYTE* block = region + usable - size;
    const RegionHeader header{regionMagic, size};
    std::memcpy(region, &header, sizeof header);
    std::memset(region + sizeof header, slackFill, block - region - sizeof header);
    if ((flags & HEAP_ZERO_MEMORY) == 0) {
        std::memset(block, freshFill, size);
    }
    ++blocksHeld;
    return block;
}

BOOL WINAPI guardedHeapFree(HANDLE, DWORD, LPVOID block) {
    if (block == nullptr) {
        return TRUE;
    }
    MEMORY_BASIC_INFORMATION info{};
    if (VirtualQuery(block, &info, sizeof info) == 0 || info.AllocationBase == nullptr) {
        heapStop("freed an address the guarded heap did not give", block);
    }
    auto* region = static_cast<BYTE*>(info.AllocationBase);
    if (VirtualQuery(region, &info, sizeof info) == 0 || info.State != MEM_COMMIT ||
        info.Protect != PAGE_READWRITE) {
        heapStop("freed a block twice, or one the guarded heap did not give", block);
    }
    RegionHeader header;
    std::memcpy(&header, region, sizeof header);
    if (header.magic != regionMagic || region + usableBytes(header.size) - header.size != block) {
        heapStop("freed an address the guarded heap did not give", block);
    }
    for (const BYTE* slack = region + sizeof header; slack != block; ++slack) {
        if (*slack != slackFill) {
            heapStop("the bytes before the block were overwritten", block);
        }
    }
    VirtualFree(region, usableBytes(header.size), MEM_DECOMMIT);
    keepInQuarantine(region);
    --blocksHeld;
    return TRUE;
}

long guardedBlocksHeld() {
    return blocksHeld;
}

void useGuardedHeap(HMODULE module) {
    if (findImportSlot(module, "KERNEL32.dll", "HeapAlloc") != nullptr &&
        findImportSlot(module, "KERNEL32.dll", "HeapFree") != nullptr) {
        redirectImport(module, "KERNEL32.dll", "HeapAlloc",
                       reinterpret_cast<const void*>(&guardedHeapAlloc));
        redirectImport(module, "KERNEL32.dll", "HeapFree",
                       reinterpret_cast<const void*>(&guardedHeapFree));
    }
}

}  // namespace jnitest
