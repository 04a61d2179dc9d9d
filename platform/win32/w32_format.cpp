// wsprintfA: the formatter user32 offers. It knows integers, characters and strings, no floating
// point, and never writes more than 1024 characters including the terminator.
#include "w32_internal.h"

#include <stdarg.h>
#include <algorithm>
#include <string.h>

namespace {

constexpr int kLimit = 1024;

struct Out {
    char* buffer;
    int length = 0;
    void Put(char c) {
        if (length < kLimit - 1) buffer[length++] = c;
    }
    void Repeat(char c, int n) {
        for (int i = 0; i < n; i++) Put(c);
    }
};

}  // namespace

extern "C" int WINAPI wvsprintfA(LPSTR output, LPCSTR format, va_list args) {
    if (!output) return 0;
    Out out{output};
    if (!format) {
        output[0] = 0;
        return 0;
    }
    for (const char* p = format; *p && out.length < kLimit - 1; p++) {
        if (*p != '%') {
            out.Put(*p);
            continue;
        }
        p++;
        bool left = false, zero = false, alternate = false;
        for (;; p++) {
            if (*p == '-')
                left = true;
            else if (*p == '0')
                zero = true;
            else if (*p == '#')
                alternate = true;
            else
                break;
        }
        int width = 0;
        while (*p >= '0' && *p <= '9') width = width * 10 + (*p++ - '0');
        int precision = -1;
        if (*p == '.') {
            p++;
            precision = 0;
            while (*p >= '0' && *p <= '9') precision = precision * 10 + (*p++ - '0');
        }
        if (width > kLimit) width = kLimit;
        if (precision > kLimit) precision = kLimit;
        // Size prefixes: l and h for the usual widths (long is 32 bits there), I64 for 64 bits.
        bool wide = false, narrow = false, is64 = false;
        if (*p == 'l') {
            wide = true;
            p++;
        } else if (*p == 'h') {
            narrow = true;
            p++;
        } else if (p[0] == 'I' && p[1] == '6' && p[2] == '4') {
            is64 = true;
            p += 3;
        } else if (p[0] == 'I' && p[1] == '3' && p[2] == '2') {
            p += 3;
        } else if (p[0] == 'I' && (p[1] == 'd' || p[1] == 'i' || p[1] == 'u' || p[1] == 'x' || p[1] == 'X')) {
            is64 = sizeof(void*) == 8;  // pointer-sized
            p += 1;
        }
        char type = *p;
        if (!type) {
            // A lone '%' at the end is dropped.
            break;
        }
        char digits[72];
        int n = 0;
        const char* text = nullptr;
        int textLength = 0;
        const char* prefix = "";
        bool negative = false;
        switch (type) {
        case '%':
            out.Put('%');
            continue;
        case 'c':
        case 'C': {
            int ch = va_arg(args, int);
            if ((type == 'C' && !narrow) || wide) ch &= 0xFFFF;
            digits[0] = (char)(ch > 0xFF ? '?' : ch);
            text = digits;
            textLength = ch ? 1 : 0;
            zero = false;
            break;
        }
        case 's':
        case 'S': {
            bool wideString = (type == 'S' && !narrow) || (type == 's' && wide);
            if (wideString) {
                const WCHAR* ws = va_arg(args, const WCHAR*);
                if (!ws) {
                    text = "(null)";
                    textLength = 6;
                } else {
                    // Wide text is narrowed character by character into a scratch buffer.
                    static thread_local char narrowed[kLimit];
                    int i = 0;
                    while (ws[i] && i < kLimit - 1 && (precision < 0 || i < precision)) {
                        narrowed[i] = ws[i] > 0xFF ? '?' : (char)ws[i];
                        i++;
                    }
                    text = narrowed;
                    textLength = i;
                }
            } else {
                const char* s = va_arg(args, const char*);
                if (!s) s = "(null)";
                text = s;
                textLength = 0;
                while (s[textLength] && textLength < kLimit && (precision < 0 || textLength < precision)) textLength++;
            }
            zero = false;
            break;
        }
        case 'd':
        case 'i':
        case 'u':
        case 'x':
        case 'X':
        case 'p': {
            unsigned long long value;
            if (type == 'p') {
                value = (unsigned long long)(uintptr_t)va_arg(args, void*);
                precision = (int)sizeof(void*) * 2;
                type = 'X';
            } else if (is64) {
                long long v = va_arg(args, long long);
                if (type == 'd' || type == 'i') {
                    negative = v < 0;
                    value = negative ? 0ULL - (unsigned long long)v : (unsigned long long)v;
                } else {
                    value = (unsigned long long)v;
                }
            } else {
                int v = va_arg(args, int);
                if (narrow) v = (type == 'd' || type == 'i') ? (int)(short)v : (int)(unsigned short)v;
                if (type == 'd' || type == 'i') {
                    negative = v < 0;
                    value = negative ? 0ULL - (unsigned long long)(long long)v : (unsigned long long)v;
                } else {
                    value = (unsigned int)v;
                }
            }
            unsigned base = (type == 'x' || type == 'X') ? 16 : 10;
            const char* set = type == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
            char rev[24];
            int r = 0;
            do {
                rev[r++] = set[value % base];
                value /= base;
            } while (value);
            int minDigits = precision > 0 ? std::min(precision, 64) : 1;
            if (precision == 0 && r == 1 && rev[0] == '0') r = 0, minDigits = 0;
            while (r < minDigits && r < 64) rev[r++] = '0';
            for (int i = 0; i < r; i++) digits[n++] = rev[r - 1 - i];
            text = digits;
            textLength = n;
            if (negative) prefix = "-";
            if (alternate && base == 16 && textLength) prefix = type == 'X' ? "0X" : "0x";
            if (precision >= 0) zero = false;
            break;
        }
        default:
            // Anything else (floating point included) takes no argument; its flags, width and
            // precision are dropped and the character itself is printed.
            out.Put(type);
            continue;
        }
        int prefixLength = (int)strlen(prefix);
        int pad = width - textLength - prefixLength;
        if (pad < 0) pad = 0;
        if (!left && !zero) out.Repeat(' ', pad);
        for (const char* q = prefix; *q; q++) out.Put(*q);
        if (!left && zero) out.Repeat('0', pad);
        for (int i = 0; i < textLength; i++) out.Put(text[i]);
        if (left) out.Repeat(' ', pad);
    }
    output[out.length] = 0;
    return out.length;
}

extern "C" int WINAPIV wsprintfA(LPSTR output, LPCSTR format, ...) {
    va_list args;
    va_start(args, format);
    int n = wvsprintfA(output, format, args);
    va_end(args);
    return n;
}
