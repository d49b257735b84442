// The reader's side of the check: a line as it looks, whatever the program
// makes of it.
#include "tools/check/line_reading.h"

namespace check {
namespace {

std::u16string_view ViewOf(const char16_t* text) {
    std::u16string_view v(text);
    if (!v.empty() && v.back() == u'\n') v.remove_suffix(1);
    return v;
}

}  // namespace

bool IsBlankChar(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

std::u16string Trimmed(std::u16string_view text) {
    std::size_t a = 0;
    std::size_t b = text.size();
    while (a < b && IsBlankChar(text[a])) ++a;
    while (b > a && IsBlankChar(text[b - 1])) --b;
    return std::u16string(text.substr(a, b - a));
}

bool IsHexText(std::u16string_view text) {
    std::u16string t = Trimmed(text);
    if (!t.empty() && (t[0] == u'-' || t[0] == u'+')) t.erase(0, 1);
    std::size_t i = 0;
    if (t.size() > 2 && t[0] == u'0' && (t[1] == u'x' || t[1] == u'X')) i = 2;
    if (i == t.size()) return false;
    for (; i < t.size(); ++i) {
        char16_t c = t[i];
        bool hex = (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
        if (!hex) return false;
    }
    return true;
}

int ByteValueOf(const std::u16string& key) {
    if (key.empty() || key.size() > 3 || (key.size() > 1 && key[0] == u'0')) return -1;
    int value = 0;
    for (char16_t c : key) {
        if (c < u'0' || c > u'9') return -1;
        value = value * 10 + (c - u'0');
    }
    return value <= 255 ? value : -1;
}

std::string ByteRanges(const std::vector<int>& bytes) {
    std::string text;
    for (std::size_t i = 0; i < bytes.size();) {
        std::size_t j = i;
        while (j + 1 < bytes.size() && bytes[j + 1] == bytes[j] + 1) ++j;
        if (!text.empty()) text += ", ";
        text += std::to_string(bytes[i]);
        if (j > i) text += "\u2013" + std::to_string(bytes[j]);
        i = j + 1;
    }
    return text;
}

bool IsHeaderText(const char16_t* text, std::u16string& name) {
    std::u16string_view v = ViewOf(text);
    std::size_t a = 0;
    while (a < v.size() && (v[a] == u' ' || v[a] == u'\t')) ++a;
    if (a == v.size() || v[a] != u'[') return false;
    std::size_t close = v.find(u']', a);
    if (close == std::u16string_view::npos || close == a + 1) return false;
    std::u16string_view inner = v.substr(a + 1, close - a - 1);
    if (inner.find(u'[') != std::u16string_view::npos) return false;
    std::u16string after = Trimmed(v.substr(close + 1));
    if (!after.empty() && after[0] != u'#') return false;
    if (after.find(u'[') != std::u16string::npos) return false;
    name = std::u16string(inner);
    return true;
}

bool IsCommentText(const char16_t* text) {
    std::u16string t = Trimmed(ViewOf(text));
    return !t.empty() && t[0] == u'#';
}

bool IsBlankText(const char16_t* text) {
    return Trimmed(ViewOf(text)).empty();
}

bool KeyOfText(const char16_t* text, std::u16string& key) {
    if (IsCommentText(text)) return false;
    std::u16string_view v = ViewOf(text);
    std::size_t eq = v.find(u'=');
    std::size_t hash = v.find(u'#');
    if (eq == std::u16string_view::npos || (hash != std::u16string_view::npos && hash < eq)) {
        return false;
    }
    key = Trimmed(v.substr(0, eq));
    return true;
}

bool IsBlankPiece(const char16_t* text) {
    for (; *text != 0; ++text)
        if (!IsBlankChar(*text)) return false;
    return true;
}

}  // namespace check
