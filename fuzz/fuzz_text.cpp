// Terminal input and output: the escape-sequence decoder always makes progress and gives
// codes of the key contract; the escaping of names lets no control character through.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "console/console.h"
#include "platform/keys.h"

namespace {
void check(bool ok) {
    if (!ok) std::abort();
}

bool valid_code(int c) {
    return c >= 0 && c <= 255;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Decoding: with more bytes to come a prefix may wait; once timed out, every byte goes.
    for (bool timed_out : {false, true}) {
        size_t at = 0;
        while (at < size) {
            VtDecoded d = vt_decode(data + at, size - at, timed_out);
            check(d.consumed <= size - at);
            if (d.consumed == 0) {
                check(!timed_out);
                break;
            }
            if (d.is_key) {
                check(valid_code(d.key.code1));
                check(d.key.code2 == -1 || valid_code(d.key.code2));
                if (d.key.code2 >= 0) check(d.key.code1 == 0 || d.key.code1 == 224);
            }
            at += d.consumed;
        }
    }

    std::string text(reinterpret_cast<const char*>(data), size);
    text = text.substr(0, text.find('\0'));
    for (int mode = 0; mode < 3; ++mode) {
        std::string out = escape_controls(text.c_str(), mode == 0, mode == 1);
        for (size_t i = 0; i < out.size(); ++i) {
            unsigned char c = static_cast<unsigned char>(out[i]);
            check(c >= 0x20 && c != 0x7F);
            if (mode == 1) check(c < 0x80 || c >= 0xA0);
            if (mode == 0 && c == 0xC2 && i + 1 < out.size()) {
                check(static_cast<unsigned char>(out[i + 1]) >= 0xA0);
            }
        }
    }
    return 0;
}
