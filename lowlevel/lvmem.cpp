#include "lowlevel/lv.h"
#include "platform/codepage.h"

namespace hyl {
namespace {
constexpr auto kAllocTaken = cp1251(u8"LVAlloc::Попытка выделить уже занятую память %p");
constexpr auto kFreeFree = cp1251(u8"LVFree::Попытка освободить уже свободную память %p");
constexpr uint32_t kMovableZeroShared = kGmemMoveable | kGmemZeroInit | kGmemDdeShare;
}  // namespace

MemHandle LVAlloc(MemHandle old_block, int32_t size) {
    if (old_block) {
        LVMessage(kMsgAlarm, kAllocTaken, old_block);
        LVFree(old_block);
    }
    if (size < 0) return nullptr;
    return platform().mem_alloc(kMovableZeroShared, static_cast<uint32_t>(size));
}

MemHandle LVFree(MemHandle block) {
    if (block)
        platform().mem_free(block);
    else
        LVMessage(kMsgAlarm, kFreeFree, block);
    return nullptr;
}

void* LVLock(MemHandle block) { return block ? platform().mem_lock(block) : nullptr; }

int32_t LVUnlock(MemHandle block) {
    if (block) platform().mem_unlock(block);
    return 0;
}

}  // namespace hyl
