// A fixed table of the open objects of one kind (ports, events, threads),
// behind the seam's typed handles. A handle carries its table's tag, its slot
// and a generation, so that a stale or foreign value (a port handle kept after
// its close, a handle of another kind) is refused instead of touching
// whatever now lives in that slot.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <utility>

namespace platform::linux_backend {

using Handle = std::uintptr_t;
inline constexpr Handle kNoHandle = 0;

template <class Typed>
Handle RawOf(Typed handle) {
    return static_cast<Handle>(handle);
}

// `kTag` tells the tables apart; each kind has its own.
template <class Object, std::uint16_t kTag>
class HandleTable {
  public:
    // kNoHandle when the table is full.
    Handle Insert(std::shared_ptr<Object> object) {
        std::lock_guard lock(mutex_);
        for (std::size_t i = 0; i < kSlots; ++i) {
            Slot& slot = slots_[i];
            if (slot.object) continue;
            const Handle generation = nextGeneration_++ & 0xFFFFFFFFFFull;
            slot.handle = kTagBits | (generation << 8) | i;
            slot.object = std::move(object);
            return slot.handle;
        }
        return kNoHandle;
    }
    // The object behind a handle while it is open, else null. Calls running
    // on it hold their own reference past its close.
    std::shared_ptr<Object> Find(Handle handle) {
        std::lock_guard lock(mutex_);
        const Slot* slot = SlotOf(handle);
        return slot != nullptr ? slot->object : nullptr;
    }
    // Takes the object out of the table: only the first close of a handle gets it.
    std::shared_ptr<Object> Remove(Handle handle) {
        std::lock_guard lock(mutex_);
        Slot* slot = SlotOf(handle);
        if (slot == nullptr) return nullptr;
        slot->handle = kNoHandle;
        return std::move(slot->object);
    }

  private:
    static_assert(sizeof(Handle) == 8, "tagged handles need a 64-bit word");
    static constexpr Handle kTagBits = Handle{kTag} << 48;
    static constexpr Handle kTagMask = Handle{0xFFFF} << 48;
    static constexpr Handle kSlotMask = 0xFF;
    static constexpr std::size_t kSlots = 256;

    struct Slot {
        Handle handle = kNoHandle;
        std::shared_ptr<Object> object;
    };

    Slot* SlotOf(Handle handle) {
        if ((handle & kTagMask) != kTagBits) return nullptr;
        Slot& slot = slots_[handle & kSlotMask];
        return slot.handle == handle ? &slot : nullptr;
    }

    std::mutex mutex_;
    Slot slots_[kSlots];
    Handle nextGeneration_ = 1;
};

}  // namespace platform::linux_backend
