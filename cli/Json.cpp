// JSON strings, byte arrays and durations for the --json output.
#include "Json.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace QuorvexCli {

bool IsUtf8(const char* data, std::size_t size)
{
    const auto* p = reinterpret_cast<const unsigned char*>(data);
    std::size_t i = 0;
    while (i < size) {
        // Eight ASCII bytes at a time (no high bit set).
        while (i + 8 <= size) {
            std::uint64_t word;
            std::memcpy(&word, p + i, 8);
            if ((word & 0x8080808080808080ull) != 0)
                break;
            i += 8;
        }
        if (i >= size)
            break;
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t extra;
        unsigned long code;
        if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
            code = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            code = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            code = c & 0x07;
        } else {
            return false;
        }
        if (size - i <= extra)
            return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (p[i + k] & 0x3F);
        }
        if ((extra == 2 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) ||
            (extra == 3 && (code < 0x10000 || code > 0x10FFFF)))
            return false;
        i += extra + 1;
    }
    return true;
}

void AppendJsonString(std::string& out, const char* data, std::size_t size)
{
    out.push_back('"');
    std::size_t plain = 0;  // the start of the run of bytes that need no escape
    for (std::size_t i = 0; i < size; ++i) {
        const unsigned char c = static_cast<unsigned char>(data[i]);
        if (c >= 0x20 && c != '"' && c != '\\')
            continue;
        out.append(data + plain, i - plain);
        plain = i + 1;
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        default: {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        }
        }
    }
    out.append(data + plain, size - plain);
    out.push_back('"');
}

void AppendJsonNumber(std::string& out, unsigned long long value)
{
    char digits[24];
    char* end = digits + sizeof digits;
    char* p = end;
    do {
        *--p = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    out.append(p, static_cast<std::size_t>(end - p));
}

void AppendJsonData(std::string& out, const char* data, std::size_t size)
{
    if (IsUtf8(data, size)) {
        out += "{\"text\":";
        AppendJsonString(out, data, size);
        out.push_back('}');
        return;
    }
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    out += "{\"bytes\":\"";
    const auto* p = reinterpret_cast<const unsigned char*>(data);
    std::size_t i = 0;
    for (; i + 3 <= size; i += 3) {
        const unsigned long v = (p[i] << 16) | (p[i + 1] << 8) | p[i + 2];
        out += digits[v >> 18];
        out += digits[(v >> 12) & 63];
        out += digits[(v >> 6) & 63];
        out += digits[v & 63];
    }
    if (i < size) {
        const unsigned long v = (p[i] << 16) | (i + 1 < size ? p[i + 1] << 8 : 0);
        out += digits[v >> 18];
        out += digits[(v >> 12) & 63];
        out += i + 1 < size ? digits[(v >> 6) & 63] : '=';
        out += '=';
    }
    out += "\"}";
}

void AppendJsonDuration(std::string& out, unsigned long long nanoseconds)
{
    char text[96];
    std::snprintf(text, sizeof text, "{\"secs\":%llu,\"nanos\":%llu,\"human\":\"%.6fs\"}", nanoseconds / 1000000000ull,
                  nanoseconds % 1000000000ull, static_cast<double>(nanoseconds) / 1e9);
    out += text;
}

}  // namespace QuorvexCli
