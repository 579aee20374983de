#include "registry/store/Unicode.h"

#include <algorithm>

namespace moatgate {

namespace {

// Decodes one UTF-8 sequence at `i`; returns false if it is malformed.
bool DecodeOne(std::string_view in, size_t& i, char32_t& cp) {
    const auto b0 = static_cast<unsigned char>(in[i]);
    if (b0 < 0x80) {
        cp = b0;
        ++i;
        return true;
    }
    int len = 0;
    char32_t min = 0;
    if ((b0 & 0xE0) == 0xC0) {
        len = 2;
        cp = b0 & 0x1F;
        min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3;
        cp = b0 & 0x0F;
        min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4;
        cp = b0 & 0x07;
        min = 0x10000;
    } else {
        return false;
    }
    if (i + static_cast<size_t>(len) > in.size()) return false;
    for (int k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(in[i + static_cast<size_t>(k)]);
        if ((b & 0xC0) != 0x80) return false;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += static_cast<size_t>(len);
    return true;
}

void Append(std::u16string& out, char32_t cp) {
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
}

}  // namespace

bool Utf8ToUtf16(std::string_view in, std::u16string& out) {
    out.clear();
    out.reserve(in.size());
    size_t i = 0;
    while (i < in.size() && static_cast<unsigned char>(in[i]) < 0x80) ++i;
    out.resize(i);  // ASCII: unit by unit
    std::copy(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(i), out.begin());
    while (i < in.size()) {
        char32_t cp = 0;
        if (!DecodeOne(in, i, cp)) return false;
        Append(out, cp);
    }
    return true;
}

std::u16string Utf8ToUtf16Lenient(std::string_view in) {
    std::u16string out;
    out.reserve(in.size());
    for (size_t i = 0; i < in.size();) {
        char32_t cp = 0;
        if (DecodeOne(in, i, cp))
            Append(out, cp);
        else
            ++i;
    }
    return out;
}

void AppendUtf8(char32_t cp, std::string& out) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

std::string Utf16ToUtf8(std::u16string_view in) {
    std::string out;
    Utf16ToUtf8(in, out);
    return out;
}

void Utf16ToUtf8(std::u16string_view in, std::string& out) {
    size_t i = 0;
    while (i < in.size() && in[i] < 0x80) ++i;
    out.resize(i);  // ASCII: unit by unit
    std::copy(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(i), out.begin());
    for (; i < in.size(); ++i) {
        char32_t cp = in[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < in.size() && in[i + 1] >= 0xDC00 &&
            in[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (in[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        AppendUtf8(cp, out);
    }
}

namespace {
#include "registry/store/CaseTable.inc"
}  // namespace

char16_t FoldCase(char16_t c) {
    return static_cast<char16_t>(c + kCaseDelta[kCaseBlock[c / kCaseBlockSize] * kCaseBlockSize + c % kCaseBlockSize]);
}

std::string PrintableExcerpt(std::string_view text, std::size_t maxChars) {
    std::string out;
    std::size_t shown = 0;
    auto hex = [&out](unsigned v, int width) {
        static const char digits[] = "0123456789abcdef";
        out += width == 2 ? "\\x" : "\\u";
        for (int shift = (width - 1) * 4; shift >= 0; shift -= 4) out += digits[(v >> shift) & 15];
    };
    for (std::size_t i = 0; i < text.size(); ++shown) {
        if (shown == maxChars) {
            out += "...";
            break;
        }
        const std::size_t at = i;
        char32_t cp = 0;
        if (!DecodeOne(text, i, cp)) {
            hex(static_cast<unsigned char>(text[i++]), 2);
        } else if (cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp < 0xA0)) {
            hex(static_cast<unsigned>(cp), 2);
        } else if ((cp >= 0x200B && cp <= 0x200F) || (cp >= 0x2028 && cp <= 0x202E) ||
                   (cp >= 0x2066 && cp <= 0x2069) || cp == 0xFEFF) {
            hex(static_cast<unsigned>(cp), 4);  // invisible, or turns the text round
        } else {
            out.append(text, at, i - at);
        }
    }
    return out;
}

std::u16string FromUtf16Le(const void* bytes, std::size_t size) {
    const auto* b = static_cast<const unsigned char*>(bytes);
    std::u16string units(size / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(b[2 * i] | (b[2 * i + 1] << 8));
    return units;
}

}  // namespace moatgate
