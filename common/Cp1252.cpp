#include "common/Cp1252.h"

#include <array>
#include <iconv.h>
#include <unordered_map>

namespace vela::cp1252 {

namespace {

struct Tables {
    std::array<char16_t, 256> decode{};
    std::unordered_map<char16_t, unsigned char> encode;

    Tables() {
        iconv_t cd = iconv_open("UTF-16LE", "WINDOWS-1252");
        for (int b = 0; b < 256; ++b) {
            char16_t ch = static_cast<char16_t>(b);
            if (cd != reinterpret_cast<iconv_t>(-1)) {
                char in = static_cast<char>(b);
                unsigned char out[4] = {};
                char* inp = &in;
                char* outp = reinterpret_cast<char*>(out);
                size_t inLeft = 1, outLeft = sizeof out;
                iconv(cd, nullptr, nullptr, nullptr, nullptr);
                if (iconv(cd, &inp, &inLeft, &outp, &outLeft) != static_cast<size_t>(-1) && outLeft == 2)
                    ch = static_cast<char16_t>(out[0] | (out[1] << 8));
            }
            decode[b] = ch;
            encode.emplace(ch, static_cast<unsigned char>(b));
        }
        if (cd != reinterpret_cast<iconv_t>(-1))
            iconv_close(cd);
    }
};

const Tables& tables() {
    static const Tables t;
    return t;
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

} // namespace

char16_t toUnicode(unsigned char byte) {
    return tables().decode[byte];
}

unsigned char fromUnicode(char16_t ch) {
    const auto& enc = tables().encode;
    auto it = enc.find(ch);
    return it == enc.end() ? static_cast<unsigned char>('?') : it->second;
}

std::string toUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 4);
    for (unsigned char b : bytes)
        appendUtf8(out, toUnicode(b));
    return out;
}

void toUtf16(std::string_view bytes, char16_t* out) {
    const auto& decode = tables().decode;
    for (unsigned char b : bytes)
        *out++ = decode[b];
}

std::string fromUtf16(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    // ASCII is itself in the code page; only the rest needs the table.
    for (char16_t u : text)
        out.push_back(static_cast<char>(u < 0x80 ? u : fromUnicode(u)));
    return out;
}

std::string fromUtf8(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        char32_t cp;
        size_t len;
        if (c < 0x80) {
            cp = c;
            len = 1;
        } else if ((c & 0xE0) == 0xC0 && i + 1 < s.size()) {
            cp = ((c & 0x1F) << 6) | (s[i + 1] & 0x3F);
            len = 2;
        } else if ((c & 0xF0) == 0xE0 && i + 2 < s.size()) {
            cp = ((c & 0x0F) << 12) | ((s[i + 1] & 0x3F) << 6) | (s[i + 2] & 0x3F);
            len = 3;
        } else {
            cp = 0xFFFF; // beyond the code page either way
            len = (c & 0xF8) == 0xF0 ? 4 : 1;
        }
        out.push_back(static_cast<char>(cp > 0xFFFF ? '?' : fromUnicode(static_cast<char16_t>(cp))));
        i += len;
    }
    return out;
}

} // namespace vela::cp1252
