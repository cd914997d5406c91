#include "platform/private_name.h"

#include <cstring>

void format_private_name(char* out, long pid, const unsigned (&r)[4]) {
    const char* prefix = ".tavrix-";
    while (*prefix) *out++ = *prefix++;
    char digits[24];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + pid % 10);
        pid /= 10;
    } while (pid > 0 && n < 20);
    while (n > 0) *out++ = digits[--n];
    *out++ = '-';
    for (unsigned part : r) {
        for (int shift = 12; shift >= 0; shift -= 4)
            *out++ = "0123456789abcdef"[(part >> shift) & 15];
    }
    const char* suffix = ".tmp";
    while (*suffix) *out++ = *suffix++;
    *out = '\0';
}

bool is_private_name(const char* name) {
    if (std::strncmp(name, ".tavrix-", 8) != 0) return false;
    const char* at = name + 8;
    const char* digits = at;
    while (*at >= '0' && *at <= '9') ++at;
    if (at == digits || *at++ != '-') return false;
    for (int i = 0; i < 16; ++i, ++at) {
        if (!((*at >= '0' && *at <= '9') || (*at >= 'a' && *at <= 'f'))) return false;
    }
    return std::strcmp(at, ".tmp") == 0;
}
