// libFuzzer target for the scan-shaping value language and the per-scan
// rules. The input is split at NUL bytes into the texts of SCAN_GS,
// SCAN_PREFIX, SCAN_SUFFIX, SCAN_CR and the five replacements (one unit per
// byte), then the bytes received. Checked whatever the input: a value that
// parses, written back in the language, parses to the same items; without
// any rule every byte comes out as itself; with rules, each scan types its
// CR text once and its prefix at most once, and nothing is left behind a CR.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "keymap/cp1252.h"
#include "keymap/scan_text.h"
#include "platform/text.h"
#include "serial/scan_shaping.h"

namespace {

void Require(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "\nscan_fuzz: %s\n", what);
    std::abort();
}

bool SameItems(const ScanText& a, const ScanText& b) {
    if (a.count != b.count) return false;
    for (int i = 0; i < a.count; ++i) {
        if (a.items[i].kind != b.items[i].kind || a.items[i].code != b.items[i].code ||
            a.items[i].modifiers != b.items[i].modifiers)
            return false;
    }
    return true;
}

// The items written back in the language.
std::u16string Written(const ScanText& text) {
    std::u16string out;
    for (int i = 0; i < text.count; ++i) {
        const ScanItem& item = text.items[i];
        if (item.kind == ScanItemKind::kKey) {
            char name[32];
            DescribeScanKey(item, name);
            out += u'{';
            for (const char* p = name; *p != 0; ++p) out += static_cast<char16_t>(*p);
            out += u'}';
            continue;
        }
        const char16_t c = Cp1252ToUnicode(item.code);
        if (item.code == '{') {
            out += u"{{}";
        } else if (item.code == '}') {
            out += u"{}}";
        } else if (c == 0 || item.code < 0x20) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "{0x%02X}", item.code);
            for (const char* p = hex; *p != 0; ++p) out += static_cast<char16_t>(*p);
        } else {
            out += c;
        }
    }
    return out;
}

void RoundTrip(const std::u16string& value, bool replacement) {
    static ScanReplacement first, second;
    ScanTextError error{};
    if (!replacement) {
        if (!ParseScanText(value.c_str(), first.to, error)) {
            Require(error.column >= 1 && error.reason != nullptr, "a failure without its place");
            return;
        }
        // Escapes may make the written form longer than a value can be.
        const std::u16string written = Written(first.to);
        if (written.size() >= platform::kTextCapacity) return;
        Require(ParseScanText(written.c_str(), second.to, error),
                "a parsed text written back does not parse");
        Require(SameItems(first.to, second.to), "a parsed text written back parses otherwise");
        return;
    }
    if (!ParseScanReplacement(value.c_str(), first, error)) return;
    Require(first.fromLength >= 1 && first.fromLength <= kMaxReplacedBytes, "replaced bytes");
    for (int i = 0; i < first.fromLength; ++i) Require(first.from[i] != '\r', "a CR replaced");
}

struct Collected {
    std::vector<ScanItem> items;
};

void Collect(void* context, const ScanItem& item) {
    static_cast<Collected*>(context)->items.push_back(item);
}

SerialSettingsRecord record;
ScanRules rules;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::u16string> parts(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0 && parts.size() < 10) {
            parts.emplace_back();
        } else {
            parts.back() += static_cast<char16_t>(data[i]);
        }
    }
    const std::u16string received = parts.size() == 10 ? parts.back() : u"";
    char16_t* texts[] = {record.scanGs,         record.scanPrefix,     record.scanSuffix,
                         record.scanReturn,     record.scanReplace[0], record.scanReplace[1],
                         record.scanReplace[2], record.scanReplace[3], record.scanReplace[4]};
    for (std::size_t i = 0; i < 9; ++i) {
        const std::u16string value =
            i < parts.size() && parts.size() == 10 ? parts[i].substr(0, 259) : u"";
        RoundTrip(value, i >= 4);
        platform::StrCopy(texts[i], platform::kTextCapacity, value.c_str());
    }
    record.scanStripIdentifier = size > 0 && (data[0] & 1) != 0 ? 1 : 0;
    PrepareScanRules(record, rules);

    Collected out;
    ScanState state;
    ResetScanState(state);
    std::size_t carriageReturns = 0;
    for (char16_t unit : received) {
        const auto byte = static_cast<std::uint8_t>(unit);
        ShapeScanByte(rules, state, byte, Collect, &out);
        if (byte != '\r') continue;
        ++carriageReturns;
        Require(!state.inScan && state.pendingCount == 0 && state.identifierHeld == 0,
                "bytes left waiting after a carriage return");
    }
    for (const ScanItem& item : out.items)
        Require(item.kind != ScanItemKind::kKey || item.code != 0, "a key without a code");
    if (!rules.inUse) {
        Require(out.items.size() == received.size(), "without rules, bytes lost or added");
        for (std::size_t i = 0; i < received.size(); ++i)
            Require(out.items[i].kind == ScanItemKind::kCharacter &&
                        out.items[i].code == static_cast<std::uint8_t>(received[i]),
                    "without rules, a byte changed");
        return 0;
    }
    // Every byte gives at most the longest text of the rules.
    Require(out.items.size() <= (received.size() + 1) * 4 * platform::kTextCapacity,
            "more typed than the rules can give");
    if (!rules.carriageReturn.set) {
        std::size_t returns = 0;
        for (const ScanItem& item : out.items)
            returns += item.kind == ScanItemKind::kCharacter && item.code == '\r' ? 1 : 0;
        // A CR typed by a text is no received CR, so only at least as many.
        Require(returns >= carriageReturns, "a carriage return lost");
    }
    return 0;
}
