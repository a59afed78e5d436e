#include "EscapedText.hpp"

#include <cstdint>

namespace platform::text {

namespace {

constexpr char hexDigits[] = "0123456789ABCDEF";

void appendHex(std::string& out, std::uint32_t value) {
    char digits[8];
    int count = 0;
    do {
        digits[count++] = hexDigits[value & 0xF];
        value >>= 4;
    } while (value != 0);
    while (count > 0) {
        out.push_back(digits[--count]);
    }
}

void appendEscapedCodePoint(std::string& out, std::uint32_t codePoint) {
    out.append("\\u{");
    appendHex(out, codePoint);
    out.push_back('}');
}

// Length of the well-formed UTF-8 sequence at the start of `bytes` and its code
// point, or 0 when the first byte does not start one (overlong forms, surrogates
// and values past U+10FFFF are not well-formed).
std::size_t decodeUtf8(std::string_view bytes, std::uint32_t& codePoint) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        codePoint = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        codePoint = lead & 0x0F;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        codePoint = lead & 0x07;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (bytes.size() < length) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const unsigned char next = byte(i);
        if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF)) {
            return 0;
        }
        codePoint = (codePoint << 6) | (next & 0x3F);
    }
    return length;
}

}  // namespace

void appendEscaped(std::string& out, std::string_view bytes) {
    while (!bytes.empty()) {
        const auto c = static_cast<unsigned char>(bytes.front());
        if (c < 0x80) {
            switch (c) {
                case '"':
                    out.append("\\\"");
                    break;
                case '\\':
                    out.append("\\\\");
                    break;
                case '\0':
                    out.append("\\0");
                    break;
                case '\t':
                    out.append("\\t");
                    break;
                case '\n':
                    out.append("\\n");
                    break;
                case '\r':
                    out.append("\\r");
                    break;
                default:
                    if (c < 0x20 || c == 0x7F) {
                        appendEscapedCodePoint(out, c);
                    } else {
                        out.push_back(static_cast<char>(c));
                    }
            }
            bytes.remove_prefix(1);
            continue;
        }
        std::uint32_t codePoint = 0;
        const std::size_t length = decodeUtf8(bytes, codePoint);
        if (length == 0) {
            out.append("\\x{");
            out.push_back(hexDigits[c >> 4]);
            out.push_back(hexDigits[c & 0xF]);
            out.push_back('}');
            bytes.remove_prefix(1);
            continue;
        }
        if (codePoint <= 0x9F || codePoint == 0x2028 || codePoint == 0x2029) {
            appendEscapedCodePoint(out, codePoint);
        } else {
            out.append(bytes.substr(0, length));
        }
        bytes.remove_prefix(length);
    }
}

std::string quoted(std::string_view bytes) {
    std::string out = "\"";
    appendEscaped(out, bytes);
    out.push_back('"');
    return out;
}

bool isWellFormedUtf8(std::string_view bytes) {
    while (!bytes.empty()) {
        std::uint32_t codePoint = 0;
        const std::size_t length =
            static_cast<unsigned char>(bytes.front()) < 0x80 ? 1 : decodeUtf8(bytes, codePoint);
        if (length == 0) {
            return false;
        }
        bytes.remove_prefix(length);
    }
    return true;
}

}  // namespace platform::text
