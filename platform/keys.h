// Key codes shared by the platform layers: the PC extended-code table and, for terminals,
// the decoding of their escape sequences into key presses.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/terminal.h"

enum class ExtKey {
    HOME,
    UP,
    PGUP,
    LEFT,
    RIGHT,
    END,
    DOWN,
    PGDN,
    INS,
    DEL,
    F1,
    F10 = F1 + 9,
    F11,
    F12
};

constexpr int KEYMOD_SHIFT = 1;
constexpr int KEYMOD_ALT = 2;
constexpr int KEYMOD_CTRL = 4;

/// The two codes of an extended key with modifiers: prefix 224 for the dedicated navigation
/// keys and F11/F12, 0 for F1 to F10, Alt on a navigation key and the keypad (keypad true).
KeyPress ext_key_code(ExtKey key, int mods, bool keypad = false);

/// A key event as the Windows console reports it: virtual-key code, scan code, the character
/// in the input code page (0 for none) and the control-key state bits.
struct ConsoleKeyEvent {
    bool key_down = true;
    unsigned char character = 0;
    uint16_t virtual_key = 0;
    uint16_t scan_code = 0;
    uint32_t control_state = 0;
};

/// The key press a console key event delivers; false when it delivers none (a release, a
/// modifier alone). Where the console flags no key as enhanced (flags_enhanced false), the
/// keypad's navigation keys cannot be told from the dedicated ones and read as dedicated.
bool console_key_press(const ConsoleKeyEvent& e, bool flags_enhanced, KeyPress& k);

struct VtDecoded {
    size_t consumed = 0;  // 0: the bytes so far may begin a longer sequence
    bool is_key = false;  // false: the consumed bytes are no key (mouse, focus, paste marks)
    KeyPress key;
};

/// Decodes the key at the start of s[0..n). With timed_out, no more bytes are coming soon,
/// so an Esc that starts no complete sequence is the Esc key itself.
VtDecoded vt_decode(const unsigned char* s, size_t n, bool timed_out);
