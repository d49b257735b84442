// Icon handles and the icons behind them.
#include "platform/linux/qt/icons_private.h"

#include <QFile>
#include <QString>
#include <map>

namespace platform::qt {
namespace {

constexpr std::uintptr_t kIconHandleBase = 0x1C000000u;

QString IconPath(std::int32_t id, int size) {
    return QStringLiteral(":/icon/%1/%2.png").arg(id).arg(size);
}

}  // namespace

bool HasIconResource(std::int32_t id) {
    return QFile::exists(IconPath(id, 16));
}

IconHandle LargeIconHandle(std::int32_t id) {
    return IconHandle{kIconHandleBase + 2 * static_cast<std::uintptr_t>(id)};
}

IconHandle SmallIconHandle(std::int32_t id) {
    return IconHandle{kIconHandleBase + 2 * static_cast<std::uintptr_t>(id) + 1};
}

QIcon IconOf(IconHandle icon) {
    const auto raw = static_cast<std::uintptr_t>(icon);
    if (raw < kIconHandleBase || raw > kIconHandleBase + 2 * kMaxIconResourceId + 1) return {};
    static std::map<std::uintptr_t, QIcon> made;
    QIcon& image = made[raw];
    if (image.isNull()) {
        const auto id = static_cast<std::int32_t>((raw - kIconHandleBase) / 2);
        image.addFile(IconPath(id, 16), QSize(16, 16));
        image.addFile(IconPath(id, 32), QSize(32, 32));
    }
    return image;
}

}  // namespace platform::qt
