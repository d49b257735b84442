// The reports kept for the dialog thread: a slot per kind, each written once
// by whichever thread posts first and read once it is marked kept.
#include "platform/reports.h"

#include <atomic>
#include <cstdint>

#include "platform/codes.h"
#include "platform/text.h"

namespace platform {
namespace {

constexpr int kKinds = static_cast<int>(ReportKind::kCount);

enum SlotState : std::int32_t { kEmpty, kWriting, kKept, kTaken };

struct ReportSlot {
    std::atomic<std::int32_t> state{kEmpty};
    std::uint32_t order = 0;  // when it was posted, among this run's reports
    char16_t text[kReportCapacity] = {};
};

struct ReportsState {
    ReportSlot slots[kKinds];
    std::atomic<std::uint32_t> posted{0};
    std::atomic<int> last{-1};
};
ReportsState reports;

}  // namespace

bool PostReport(ReportKind kind, const char16_t* text) {
    const int index = static_cast<int>(kind);
    if (index < 0 || index >= kKinds) return false;
    ReportSlot& slot = reports.slots[index];
    std::int32_t expected = kEmpty;
    if (!slot.state.compare_exchange_strong(expected, kWriting)) return false;
    StrCopy(slot.text, kReportCapacity, text != nullptr ? text : u"");
    slot.order = reports.posted.fetch_add(1);
    slot.state.store(kKept);
    reports.last.store(index);
    return true;
}

bool TakeReport(char16_t* text, std::size_t capacity) {
    for (;;) {
        int oldest = -1;
        for (int i = 0; i < kKinds; ++i) {
            const ReportSlot& slot = reports.slots[i];
            if (slot.state.load() != kKept) continue;
            if (oldest < 0 || slot.order < reports.slots[oldest].order) oldest = i;
        }
        if (oldest < 0) return false;
        std::int32_t expected = kKept;
        if (!reports.slots[oldest].state.compare_exchange_strong(expected, kTaken)) continue;
        StrCopy(text, capacity, reports.slots[oldest].text);
        return true;
    }
}

bool LastReport(char16_t* text, std::size_t capacity) {
    const int index = reports.last.load();
    if (index < 0) return false;
    const std::int32_t state = reports.slots[index].state.load();
    if (state != kKept && state != kTaken) return false;
    StrCopy(text, capacity, reports.slots[index].text);
    return true;
}

void ForgetReports() {
    reports.last.store(-1);
    for (ReportSlot& slot : reports.slots) {
        slot.text[0] = 0;
        slot.state.store(kEmpty);
    }
    reports.posted.store(0);
}

}  // namespace platform
