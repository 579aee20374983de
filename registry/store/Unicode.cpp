#include "registry/store/Unicode.h"

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
    for (size_t i = 0; i < in.size();) {
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

std::string Utf16ToUtf8(std::u16string_view in) {
    std::string out;
    out.reserve(in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        char32_t cp = in[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < in.size() && in[i + 1] >= 0xDC00 &&
            in[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (in[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
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
    return out;
}

char16_t FoldCase(char16_t c) {
    if (c < 0x80) return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
    // Latin-1 capitals (not the multiplication sign).
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<char16_t>(c + 32);
    // Latin Extended-A: capitals on even code points, except the stretches that pair odd/even.
    if (c >= 0x100 && c <= 0x17F) {
        if (c == 0x130) return u'i';
        if (c == 0x178) return 0xFF;
        const bool oddPairs = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        if (oddPairs) return (c & 1) ? static_cast<char16_t>(c + 1) : c;
        if (c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
        return (c & 1) ? c : static_cast<char16_t>(c + 1);
    }
    // Greek and Cyrillic capitals.
    if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return static_cast<char16_t>(c + 32);
    if (c >= 0x410 && c <= 0x42F) return static_cast<char16_t>(c + 32);
    if (c >= 0x400 && c <= 0x40F) return static_cast<char16_t>(c + 80);
    // Fullwidth Latin capitals.
    if (c >= 0xFF21 && c <= 0xFF3A) return static_cast<char16_t>(c + 32);
    return c;
}

std::u16string FromUtf16Le(const void* bytes, std::size_t size) {
    const auto* b = static_cast<const unsigned char*>(bytes);
    std::u16string units(size / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(b[2 * i] | (b[2 * i + 1] << 8));
    return units;
}

}  // namespace moatgate
