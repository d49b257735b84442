// The program's icons, compiled in as Qt resources (:/icon/<id>/<size>.png).
// A handle names an icon resource and its size; either size carries both
// images, since trays on Linux draw icons larger than a Windows tray's 16
// pixels.
#pragma once

#include <QIcon>
#include <cstdint>

#include "platform/services.h"

namespace platform::qt {

inline constexpr std::int32_t kMaxIconResourceId = 0xFFFF;

// Whether the program has the icon resource `id`.
bool HasIconResource(std::int32_t id);
// The handles of an icon resource, as ExtractIconExW gives them.
IconHandle LargeIconHandle(std::int32_t id);
IconHandle SmallIconHandle(std::int32_t id);
// The icon a handle names; an unknown handle gives a null icon. GUI thread only.
QIcon IconOf(IconHandle icon);

}  // namespace platform::qt
