// The Linux backend's handles: tagged words naming objects in one table, so
// that CloseHandle can tell a port from an event or a thread, and a stale or
// foreign value (a port handle kept after its close) is refused instead of
// touching whatever now lives in its place.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/services.h"

namespace platform::linux_backend {

// The word behind every typed handle of the seam (PortHandle, EventHandle,
// ThreadHandle): tagged, so a stale or foreign value is refused.
using Handle = std::uintptr_t;
inline constexpr Handle kNoHandle = 0;

template <class Typed>
Handle RawOf(Typed handle) {
    return static_cast<Handle>(handle);
}

enum class ObjectKind { Port, Event, Thread };

class Object {
  public:
    explicit Object(ObjectKind kind) : kind_(kind) {}
    virtual ~Object() = default;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;
    ObjectKind Kind() const { return kind_; }
    // Called once, by the CloseHandle that takes the object out of the table;
    // calls still running on it hold their own reference.
    virtual bool Close() { return true; }

  private:
    const ObjectKind kind_;
};

// kNoHandle when the table is full.
Handle InsertObject(std::shared_ptr<Object> object);
// The object behind a handle if it is open and of that kind, else null.
std::shared_ptr<Object> FindObject(Handle handle, ObjectKind kind);
// Takes the object out of the table: only the first close of a handle gets it.
std::shared_ptr<Object> RemoveObject(Handle handle);

template <class T>
std::shared_ptr<T> Find(Handle handle) {
    return std::static_pointer_cast<T>(FindObject(handle, T::kKind));
}

}  // namespace platform::linux_backend
