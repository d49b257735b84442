// The per-scan shaping the SCAN_ settings ask for, between the received bytes
// and the key buffer.
#include "serial/scan_shaping.h"

#include "platform/text.h"

namespace {

constexpr std::uint8_t kCarriageReturn = 0x0D;
constexpr std::uint8_t kGroupSeparator = 0x1D;
constexpr std::uint8_t kIdentifierFlag = ']';

struct Run {
    const ScanRules& rules;
    ScanState& state;
    ScanOutput output;
    void* context;

    void Type(const ScanText& text) {
        for (std::uint16_t i = 0; i < text.count; ++i) output(context, text.items[i]);
    }

    // A byte no replacement took.
    void TypeByte(std::uint8_t byte) {
        if (byte == kGroupSeparator && rules.gs.set) {
            Type(rules.gs);
            return;
        }
        output(context, {ScanItemKind::kCharacter, byte, 0});
    }

    // The first replacement whose bytes begin the pending ones, or null.
    const ScanReplacement* Completed() const {
        for (const ScanReplacement& rule : rules.replacements) {
            if (!rule.set || rule.fromLength > state.pendingCount) continue;
            bool same = true;
            for (int i = 0; i < rule.fromLength && same; ++i)
                same = rule.from[i] == state.pending[i];
            if (same) return &rule;
        }
        return nullptr;
    }

    // Whether the pending bytes may still grow into a replacement.
    bool MayComplete() const {
        for (const ScanReplacement& rule : rules.replacements) {
            if (!rule.set || rule.fromLength <= state.pendingCount) continue;
            bool same = true;
            for (int i = 0; i < state.pendingCount && same; ++i)
                same = rule.from[i] == state.pending[i];
            if (same) return true;
        }
        return false;
    }

    void Drop(int count) {
        for (int i = count; i < state.pendingCount; ++i)
            state.pending[i - count] = state.pending[i];
        state.pendingCount = static_cast<std::uint8_t>(state.pendingCount - count);
    }

    // Types what the pending bytes have become; at the scan's end nothing
    // waits any longer.
    void Settle(bool scanEnds) {
        while (state.pendingCount != 0) {
            if (const ScanReplacement* rule = Completed()) {
                Type(rule->to);
                Drop(rule->fromLength);
                continue;
            }
            if (!scanEnds && MayComplete()) return;
            TypeByte(state.pending[0]);
            Drop(1);
        }
    }

    void Replace(std::uint8_t byte) {
        if (state.pendingCount == 0 && !rules.beginsReplacement[byte]) {
            TypeByte(byte);
            return;
        }
        state.pending[state.pendingCount++] = byte;
        Settle(false);
    }

    // An identifier's bytes wait until it is known whether they are one.
    bool HeldAsIdentifier(std::uint8_t byte) {
        if (!FitsIdentifier(state.identifierHeld, byte)) return false;
        if (state.identifierHeld == kIdentifierLength - 1) {
            state.identifierHeld = 0;
            state.identifierSettled = true;
            return true;  // the whole identifier is dropped
        }
        state.identifier[state.identifierHeld++] = byte;
        return true;
    }

    void ReleaseIdentifier() {
        const std::uint8_t held = state.identifierHeld;
        state.identifierHeld = 0;
        state.identifierSettled = true;
        for (std::uint8_t i = 0; i < held; ++i) Replace(state.identifier[i]);
    }

    void EndScan() {
        ReleaseIdentifier();
        Settle(true);
        if (state.inScan) Type(rules.suffix);
        if (rules.carriageReturn.set) {
            Type(rules.carriageReturn);
        } else {
            output(context, {ScanItemKind::kCharacter, kCarriageReturn, 0});
        }
        ResetScanState(state);
    }

    void Take(std::uint8_t byte) {
        if (byte == kCarriageReturn) {
            EndScan();
            return;
        }
        if (!state.inScan) {
            state.inScan = true;
            Type(rules.prefix);
        }
        if (rules.stripIdentifier && !state.identifierSettled) {
            if (HeldAsIdentifier(byte)) return;
            ReleaseIdentifier();
        }
        Replace(byte);
    }
};

void Prepare(const char16_t* text, ScanText& out) {
    ScanTextError error;
    out.set = false;
    out.count = 0;
    // An empty text is what a record never loaded holds: as absent.
    if (text[0] != 0 && platform::StrCmp(text, kAbsentValue) != 0) ParseScanText(text, out, error);
}

}  // namespace

void PrepareScanRules(const SerialSettingsRecord& record, ScanRules& rules) {
    rules.stripIdentifier = record.scanStripIdentifier == 1;
    Prepare(record.scanGs, rules.gs);
    Prepare(record.scanPrefix, rules.prefix);
    Prepare(record.scanSuffix, rules.suffix);
    Prepare(record.scanReturn, rules.carriageReturn);
    bool anyReplacement = false;
    for (bool& begins : rules.beginsReplacement) begins = false;
    for (int i = 0; i < kScanReplaceCount; ++i) {
        ScanReplacement& rule = rules.replacements[i];
        ScanTextError error;
        rule.set = false;
        if (record.scanReplace[i][0] != 0 &&
            platform::StrCmp(record.scanReplace[i], kAbsentValue) != 0)
            ParseScanReplacement(record.scanReplace[i], rule, error);
        anyReplacement = anyReplacement || rule.set;
        if (rule.set) rules.beginsReplacement[rule.from[0]] = true;
    }
    rules.inUse = rules.stripIdentifier || rules.gs.set || rules.prefix.set || rules.suffix.set ||
                  rules.carriageReturn.set || anyReplacement;
}

bool FitsIdentifier(int position, std::uint8_t byte) {
    const bool letter = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z');
    const bool digit = byte >= '0' && byte <= '9';
    switch (position) {
        case 0:
            return byte == kIdentifierFlag;
        case 1:
            return letter;
        case 2:
            return letter || digit;
        default:
            return false;
    }
}

void ResetScanState(ScanState& state) {
    state = {};
}

void ShapeScanByte(const ScanRules& rules, ScanState& state, std::uint8_t byte, ScanOutput output,
                   void* context) {
    Run{rules, state, output, context}.Take(byte);
}
