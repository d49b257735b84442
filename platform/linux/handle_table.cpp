// One fixed table of open objects; a handle carries its slot and a generation
// so that a slot used again never answers to an old handle.
#include "platform/linux/handle_table.h"

#include <cstddef>
#include <mutex>
#include <utility>

namespace platform::linux_backend {

namespace {

static_assert(sizeof(Handle) == 8, "tagged handles need a 64-bit word");
constexpr Handle kTag = Handle{0x514C} << 48;
constexpr Handle kTagMask = Handle{0xFFFF} << 48;
constexpr Handle kSlotMask = 0xFF;
constexpr std::size_t kSlots = 256;

struct Slot {
    Handle handle = kNoHandle;
    std::shared_ptr<Object> object;
};

std::mutex tableMutex;
Slot slots[kSlots];
Handle nextGeneration = 1;

Slot* SlotOf(Handle handle) {
    if ((handle & kTagMask) != kTag) return nullptr;
    Slot& slot = slots[handle & kSlotMask];
    return slot.handle == handle ? &slot : nullptr;
}

}  // namespace

Handle InsertObject(std::shared_ptr<Object> object) {
    std::lock_guard lock(tableMutex);
    for (std::size_t i = 0; i < kSlots; ++i) {
        Slot& slot = slots[i];
        if (slot.object) continue;
        const Handle generation = nextGeneration++ & 0xFFFFFFFFFFull;
        slot.handle = kTag | (generation << 8) | i;
        slot.object = std::move(object);
        return slot.handle;
    }
    return kNoHandle;
}

std::shared_ptr<Object> FindObject(Handle handle, ObjectKind kind) {
    std::lock_guard lock(tableMutex);
    const Slot* slot = SlotOf(handle);
    if (slot == nullptr || slot->object->Kind() != kind) return nullptr;
    return slot->object;
}

std::shared_ptr<Object> RemoveObject(Handle handle) {
    std::lock_guard lock(tableMutex);
    Slot* slot = SlotOf(handle);
    if (slot == nullptr) return nullptr;
    slot->handle = kNoHandle;
    return std::move(slot->object);
}

}  // namespace platform::linux_backend
