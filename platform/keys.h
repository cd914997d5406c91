// Key codes shared by the platform layers: the PC extended-code table and, for terminals,
// the decoding of their escape sequences into key presses.
#pragma once

#include <cstddef>

#include "platform/platform.h"

enum class ExtKey { HOME, UP, PGUP, LEFT, RIGHT, END, DOWN, PGDN, INS, DEL, F1, F10 = F1 + 9, F11, F12 };

constexpr int KEY_PREFIX_NAV = 224;
constexpr int MOD_SHIFT = 1;
constexpr int MOD_ALT = 2;
constexpr int MOD_CTRL = 4;

/// The two codes of an extended key with modifiers: prefix 224 for the dedicated navigation
/// keys and F11/F12, 0 for F1 to F10, Alt on a navigation key and the keypad (keypad true).
KeyPress ext_key_code(ExtKey key, int mods, bool keypad = false);

struct VtDecoded {
    size_t consumed = 0;  // 0: the bytes so far may begin a longer sequence
    bool is_key = false;  // false: the consumed bytes are no key (mouse, focus, paste marks)
    KeyPress key;
};

/// Decodes the key at the start of s[0..n). With timed_out, no more bytes are coming soon,
/// so an Esc that starts no complete sequence is the Esc key itself.
VtDecoded vt_decode(const unsigned char* s, size_t n, bool timed_out);
