// `preview`: what a scan would type with a settings file's SCAN_ settings,
// key by key and as text, so that a setting can be tried without a scanner.
// The shaping is the reception thread's own; only the typing is described
// instead of done.
#include <cstdio>
#include <memory>

#include "keymap/active_layout.h"
#include "keymap/cp1252.h"
#include "keymap/key_table.h"
#include "keymap/scan_text.h"
#include "platform/services.h"
#include "serial/scan_shaping.h"
#include "settings/general_settings.h"
#include "tools/byte_names.h"
#include "tools/commands.h"
#include "tools/engine_bridge.h"
#include "tools/key_names.h"
#include "tools/preview.h"
#include "tools/text_conversion.h"

namespace {

int HexValue(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

// BYTES as typed on a command line: characters as their Windows-1252 bytes,
// \xHH any byte, \r \n \t \\ as in C. False with a message on a bad escape.
bool DecodeBytes(const std::u16string& text, std::string& bytes, ToolOutput& io) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c != u'\\') {
            const int byte = Cp1252FromUnicode(c);
            if (byte < 0) {
                Note(io,
                     "character " + std::to_string(i + 1) + " of BYTES has no Windows-1252 byte");
                return false;
            }
            bytes += static_cast<char>(byte);
            continue;
        }
        const char16_t next = i + 1 < text.size() ? text[i + 1] : u'\0';
        if (next == u'x' && i + 3 < text.size() && HexValue(text[i + 2]) >= 0 &&
            HexValue(text[i + 3]) >= 0) {
            bytes += static_cast<char>(HexValue(text[i + 2]) * 16 + HexValue(text[i + 3]));
            i += 3;
        } else if (next == u'r' || next == u'n' || next == u't' || next == u'\\') {
            bytes += next == u'r' ? '\r' : next == u'n' ? '\n' : next == u't' ? '\t' : '\\';
            ++i;
        } else {
            Note(io, "character " + std::to_string(i + 1) +
                         " of BYTES: a backslash starts \\xHH, \\r, \\n, \\t or \\\\");
            return false;
        }
    }
    return true;
}

std::string KeyText(const ScanItem& item) {
    char name[32];
    DescribeScanKey(item, name);
    return std::string("{") + name + "}";
}

// How the text shows a character: itself when it is printable.
std::string CharacterText(std::uint8_t byte) {
    if (byte == '\r') return "{Enter}";
    if (byte == '\t') return "{Tab}";
    if (byte == '{') return "{{}";
    if (byte == '}') return "{}}";
    const char16_t c = Cp1252ToUnicode(byte);
    if (c < 0x20 || c == 0x7F || c == 0) {
        char code[16];
        std::snprintf(code, sizeof code, "{0x%02X}", byte);
        return code;
    }
    return ToUtf8(std::u16string(1, c));
}

std::string StrokeText(const KeyStroke& stroke) {
    return DescribeKey({stroke.shift, stroke.altGr, stroke.virtualKey});
}

// One character item on the active layout, as the reception thread types it.
std::string OnLayout(const LayoutPlans& plans, std::uint8_t byte) {
    const KeystrokePlan& plan = plans.plans[byte];
    switch (plan.kind) {
        case PlanKind::kKey:
            return StrokeText(plan.key);
        case PlanKind::kDeadKey:
            return "dead key " + StrokeText(plan.dead) + ", then " + StrokeText(plan.key);
        case PlanKind::kCharacter:
            return "the character itself";
        case PlanKind::kNothing:
            break;
    }
    return "nothing (no character on this layout)";
}

bool ReadStandardInput(std::string& bytes) {
    char chunk[4096];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, stdin)) > 0) bytes.append(chunk, n);
    return std::ferror(stdin) == 0;
}

}  // namespace

std::unique_ptr<PreviewSetup> LoadPreviewSetup() {
    ListAvailablePorts(AvailablePorts, &AvailablePortCount);
    LoadGeneralSettings();
    const bool activeLayout = IsActiveLayoutName(SerialSettings.keyTableName);
    if (!activeLayout) LoadKeyTable();
    auto setup = std::make_unique<PreviewSetup>();
    PrepareScanRules(SerialSettings, setup->rules);
    setup->plans = activeLayout ? &PlansForLayout(ActiveKeyboardLayout()) : nullptr;
    return setup;
}

void CollectScanItem(void* context, const ScanItem& item) {
    static_cast<std::vector<ScanItem>*>(context)->push_back(item);
}

std::string DescribeTyped(const PreviewSetup& setup, const std::vector<ScanItem>& items,
                          std::string* lines) {
    std::string ignored;
    std::string& out = lines != nullptr ? *lines : ignored;
    std::string text;
    for (const ScanItem& item : items) {
        if (item.kind == ScanItemKind::kKey) {
            out += "key  " + KeyText(item) + " " + VirtualKeyName(item.code) + "\n";
            text += KeyText(item);
            continue;
        }
        out += "char " + ByteCharacterName(item.code) + " ";
        if (setup.plans != nullptr) {
            out += OnLayout(*setup.plans, item.code) + "\n";
            if (setup.plans->plans[item.code].kind != PlanKind::kNothing)
                text += CharacterText(item.code);
            continue;
        }
        const KeyTableEntry& entry = KeyTable[item.code];
        out += (entry.virtualKey != 0 ? DescribeKey(entry) : "nothing (no key in the table)") +
               std::string("\n");
        if (entry.virtualKey != 0) text += CharacterText(item.code);
    }
    return text;
}

int RunPreview(const ToolArgs& args, ToolOutput& io) {
    if (args.empty() || args.size() > 2) return UsageError(io, "preview needs FILE [BYTES|-]");
    if (!SetSettingsPath(args[0], io)) return kUsageError;
    if (IsUnfitFile(args[0], io)) return kUsageError;
    if (IsFolderNotFile(args[0], io)) return 1;
    std::string bytes;
    if (args.size() == 2 && args[1] != u"-") {
        if (!DecodeBytes(args[1], bytes, io)) return kUsageError;
    } else if (!ReadStandardInput(bytes)) {
        Note(io, "cannot read standard input");
        return 1;
    }
    const std::unique_ptr<PreviewSetup> setup = LoadPreviewSetup();
    ScanState state;
    ResetScanState(state);
    std::vector<ScanItem> items;
    for (char byte : bytes)
        ShapeScanByte(setup->rules, state, static_cast<std::uint8_t>(byte), CollectScanItem,
                      &items);
    if (state.inScan || state.pendingCount != 0 || state.identifierHeld != 0)
        Note(io, "the bytes end before a carriage return: what waits for one is not shown");
    const std::string text = DescribeTyped(*setup, items, &io.out);
    io.out += "text: " + text + "\n";
    return 0;
}
