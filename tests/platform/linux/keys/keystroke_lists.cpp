// Reading the layout lists and typing their entries as the program does.
#include "keystroke_lists.h"

#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

namespace keystroke_lists {
namespace {

using platform::kVkControl;
using platform::kVkLMenu;
using platform::kVkShift;

std::uint8_t VirtualKeyNamed(const std::string& name) {
    using namespace platform;
    static const std::map<std::string, std::uint8_t> named = {{"VK_TAB", kVkTab},
                                                              {"VK_RETURN", kVkReturn},
                                                              {"VK_SPACE", kVkSpace},
                                                              {"VK_OEM_1", kVkOem1},
                                                              {"VK_OEM_PLUS", kVkOemPlus},
                                                              {"VK_OEM_COMMA", kVkOemComma},
                                                              {"VK_OEM_MINUS", kVkOemMinus},
                                                              {"VK_OEM_PERIOD", kVkOemPeriod},
                                                              {"VK_OEM_2", kVkOem2},
                                                              {"VK_OEM_3", kVkOem3},
                                                              {"VK_OEM_4", kVkOem4},
                                                              {"VK_OEM_5", kVkOem5},
                                                              {"VK_OEM_6", kVkOem6},
                                                              {"VK_OEM_7", kVkOem7},
                                                              {"VK_OEM_8", kVkOem8},
                                                              {"VK_OEM_102", kVkOem102}};
    if (name.size() == 4 && name.rfind("VK_", 0) == 0) {
        const char c = name[3];
        if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return static_cast<std::uint8_t>(c);
    }
    auto found = named.find(name);
    if (found == named.end()) throw std::runtime_error("unknown virtual key " + name);
    return found->second;
}

char32_t DecodeCharacter(const std::string& text) {
    if (text.size() == 4 && text.rfind("0x", 0) == 0) {
        return static_cast<char32_t>(std::stoul(text.substr(2), nullptr, 16));
    }
    const auto* b = reinterpret_cast<const unsigned char*>(text.data());
    if (b[0] < 0x80) return b[0];
    if ((b[0] & 0xE0) == 0xC0) return ((b[0] & 0x1Fu) << 6) | (b[1] & 0x3Fu);
    if ((b[0] & 0xF0) == 0xE0)
        return ((b[0] & 0x0Fu) << 12) | ((b[1] & 0x3Fu) << 6) | (b[2] & 0x3Fu);
    throw std::runtime_error("unexpected character " + text);
}

}  // namespace

std::vector<Entry> Read(const std::string& name) {
    std::ifstream in(std::string(QUORVEL_LAYOUT_LISTS_DIR) + "/" + name);
    if (!in) throw std::runtime_error("cannot read layout list " + name);
    std::vector<Entry> entries;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream words(line);
        std::string character, key, modifier;
        words >> character >> key >> modifier;
        if (key == "none") continue;
        entries.push_back({DecodeCharacter(character), VirtualKeyNamed(key), modifier == "shift",
                           modifier == "altgr"});
    }
    return entries;
}

std::vector<platform::linuxkeys::KeyHint> HintsOf(const std::vector<Entry>& entries) {
    std::vector<platform::linuxkeys::KeyHint> hints;
    for (const Entry& e : entries) hints.push_back({e.virtualKey, e.shift, e.altGr, e.character});
    return hints;
}

void TypeAsLine(const Entry& entry, const SendEvent& send) {
    send(kVkControl, entry.altGr);
    send(kVkLMenu, entry.altGr);
    send(kVkShift, entry.shift);
    send(entry.virtualKey, true);
    send(entry.virtualKey, false);
    if (!entry.shift) send(kVkShift, false);
    if (entry.shift) send(kVkShift, false);
    if (entry.altGr) {
        send(kVkLMenu, false);
        send(kVkControl, false);
    }
}

std::string Utf8(char32_t c) {
    std::string out;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
    return out;
}

Result TypeEach(const std::vector<Entry>& entries, const SendEvent& send,
                const std::function<std::u32string()>& arrived) {
    Result result;
    for (const Entry& entry : entries) {
        TypeAsLine(entry, send);
        const std::u32string typed = arrived();
        if (typed == std::u32string(1, entry.character)) continue;
        result.differences += entry.character;
        result.report += Utf8(entry.character) + " -> ";
        for (char32_t c : typed) result.report += Utf8(c);
        result.report += "  ";
    }
    return result;
}

}  // namespace keystroke_lists
