// Portable implementations of the wide-character text services.
#include "platform/text.h"

#include <limits>

namespace platform {

std::size_t StrLen(const char16_t* text) {
    std::size_t n = 0;
    while (text[n] != 0) ++n;
    return n;
}

int StrCmp(const char16_t* a, const char16_t* b) {
    while (*a != 0 && *a == *b) {
        ++a;
        ++b;
    }
    return *a < *b ? -1 : (*a > *b ? 1 : 0);
}

const char16_t* StrStr(const char16_t* text, const char16_t* needle) {
    if (*needle == 0) return text;
    for (; *text != 0; ++text) {
        if (*text != *needle) continue;
        const char16_t* t = text;
        const char16_t* n = needle;
        while (*n != 0 && *t == *n) {
            ++t;
            ++n;
        }
        if (*n == 0) return text;
    }
    return nullptr;
}

const char16_t* StrChr(const char16_t* text, char16_t c) {
    for (;; ++text) {
        if (*text == c) return text;
        if (*text == 0) return nullptr;
    }
}

bool StrCopy(char16_t* destination, std::size_t capacity, const char16_t* source) {
    if (capacity == 0) return false;
    std::size_t i = 0;
    for (; i + 1 < capacity && source[i] != 0; ++i) destination[i] = source[i];
    destination[i] = 0;
    return source[i] == 0;
}

bool StrAppend(char16_t* destination, std::size_t capacity, const char16_t* source) {
    std::size_t used = StrLen(destination);
    std::size_t extra = StrLen(source);
    if (used + extra + 1 > capacity) return false;
    for (std::size_t i = 0; i <= extra; ++i) destination[used + i] = source[i];
    return true;
}

namespace {

bool IsSpace(char16_t c) {
    return c == u' ' || (c >= u'\t' && c <= u'\r');
}

int HexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

}  // namespace

std::int32_t wtoi(const char16_t* text) {
    while (IsSpace(*text)) ++text;
    bool negative = false;
    if (*text == u'+' || *text == u'-') negative = *text++ == u'-';
    std::int64_t value = 0;
    const std::int64_t limit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    for (; *text >= u'0' && *text <= u'9'; ++text) {
        value = value * 10 + (*text - u'0');
        if (value > limit) value = limit;  // saturated; keep consuming digits
    }
    if (negative) return static_cast<std::int32_t>(-value);
    return value >= limit ? std::numeric_limits<std::int32_t>::max()
                          : static_cast<std::int32_t>(value);
}

std::uint32_t wcstoul16(const char16_t* text) {
    while (IsSpace(*text)) ++text;
    bool negative = false;
    if (*text == u'+' || *text == u'-') negative = *text++ == u'-';
    if (text[0] == u'0' && (text[1] == u'x' || text[1] == u'X') && HexDigit(text[2]) >= 0)
        text += 2;
    std::uint64_t value = 0;
    bool overflow = false;
    for (int d; (d = HexDigit(*text)) >= 0; ++text) {
        value = value * 16 + static_cast<std::uint64_t>(d);
        if (value > 0xFFFFFFFFu) {
            overflow = true;
            value = 0xFFFFFFFFu;
        }
    }
    if (overflow) return 0xFFFFFFFFu;
    auto result = static_cast<std::uint32_t>(value);
    return negative ? 0u - result : result;
}

bool FormatDecimal(char16_t* destination, std::size_t capacity, std::int32_t value) {
    char16_t digits[12];
    std::size_t n = 0;
    std::int64_t v = value;
    bool negative = v < 0;
    if (negative) v = -v;
    do {
        digits[n++] = static_cast<char16_t>(u'0' + v % 10);
        v /= 10;
    } while (v != 0);
    std::size_t length = n + (negative ? 1 : 0);
    if (length + 1 > capacity) {
        if (capacity > 0) destination[0] = 0;
        return false;
    }
    std::size_t i = 0;
    if (negative) destination[i++] = u'-';
    while (n > 0) destination[i++] = digits[--n];
    destination[i] = 0;
    return true;
}

std::size_t Utf8SequenceLength(const unsigned char* b, std::size_t size) {
    if (size == 0) return 0;
    unsigned char c = b[0];
    if (c < 0x80) return 1;
    auto cont = [&](std::size_t i) { return i < size && (b[i] & 0xC0) == 0x80; };
    if (c >= 0xC2 && c <= 0xDF) return cont(1) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        if (!cont(1) || !cont(2)) return 0;
        if (c == 0xE0 && b[1] < 0xA0) return 0;   // overlong
        if (c == 0xED && b[1] >= 0xA0) return 0;  // surrogate
        return 3;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        if (!cont(1) || !cont(2) || !cont(3)) return 0;
        if (c == 0xF0 && b[1] < 0x90) return 0;   // overlong
        if (c == 0xF4 && b[1] >= 0x90) return 0;  // beyond U+10FFFF
        return 4;
    }
    return 0;
}

std::ptrdiff_t DecodeUtf8(const unsigned char* b, std::size_t size, char16_t* out,
                          std::size_t capacity) {
    std::size_t n = 0;
    auto put = [&](char32_t u) {
        if (n + 1 >= capacity) return false;
        out[n++] = static_cast<char16_t>(u);
        return true;
    };
    for (std::size_t i = 0; i < size;) {
        std::size_t len = Utf8SequenceLength(b + i, size - i);
        char32_t cp;
        switch (len) {
            case 1:
                cp = b[i];
                break;
            case 2:
                cp = ((b[i] & 0x1Fu) << 6) | (b[i + 1] & 0x3Fu);
                break;
            case 3:
                cp = ((b[i] & 0x0Fu) << 12) | ((b[i + 1] & 0x3Fu) << 6) | (b[i + 2] & 0x3Fu);
                break;
            case 4:
                cp = ((b[i] & 0x07u) << 18) | ((b[i + 1] & 0x3Fu) << 12) |
                     ((b[i + 2] & 0x3Fu) << 6) | (b[i + 3] & 0x3Fu);
                break;
            default:
                cp = 0xDC00u + b[i];
                len = 1;
                break;  // carried through as an escape
        }
        i += len;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            if (!put(0xD800 + (cp >> 10)) || !put(0xDC00 + (cp & 0x3FF))) return -1;
        } else if (!put(cp)) {
            return -1;
        }
    }
    if (capacity == 0) return -1;
    out[n] = 0;
    return static_cast<std::ptrdiff_t>(n);
}

std::ptrdiff_t DecodeUtf8Terminated(const char* bytes, std::size_t size, char16_t* destination,
                                    std::size_t capacity) {
    // DecodeUtf8 terminates a text that fits; one that does not leaves the
    // empty text rather than a cut one.
    const std::ptrdiff_t n =
        DecodeUtf8(reinterpret_cast<const unsigned char*>(bytes), size, destination, capacity);
    if (n < 0 && capacity > 0) destination[0] = 0;
    return n;
}

std::ptrdiff_t DecodeUtf8Terminated(const char* text, char16_t* destination, std::size_t capacity) {
    std::size_t size = 0;
    while (text[size] != 0) ++size;
    return DecodeUtf8Terminated(text, size, destination, capacity);
}

std::ptrdiff_t EncodeUtf8(const char16_t* text, unsigned char* out, std::size_t capacity) {
    std::size_t n = 0;
    auto put = [&](unsigned c) {
        if (n >= capacity) return false;
        out[n++] = static_cast<unsigned char>(c);
        return true;
    };
    for (; *text != 0; ++text) {
        char32_t u = *text;
        if (u >= 0xDC80 && u <= 0xDCFF) {  // an escaped byte goes back as it came
            if (!put(u - 0xDC00)) return -1;
            continue;
        }
        if (u >= 0xD800 && u <= 0xDBFF && text[1] >= 0xDC00 && text[1] <= 0xDFFF) {
            u = 0x10000 + ((u - 0xD800) << 10) + (text[1] - 0xDC00);
            ++text;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            u = 0xFFFD;
        }
        bool ok = u < 0x80      ? put(u)
                  : u < 0x800   ? put(0xC0 | (u >> 6)) && put(0x80 | (u & 0x3F))
                  : u < 0x10000 ? put(0xE0 | (u >> 12)) && put(0x80 | ((u >> 6) & 0x3F)) &&
                                      put(0x80 | (u & 0x3F))
                                : put(0xF0 | (u >> 18)) && put(0x80 | ((u >> 12) & 0x3F)) &&
                                      put(0x80 | ((u >> 6) & 0x3F)) && put(0x80 | (u & 0x3F));
        if (!ok) return -1;
    }
    return static_cast<std::ptrdiff_t>(n);
}

}  // namespace platform
