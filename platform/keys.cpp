#include "platform/keys.h"

namespace {

constexpr unsigned char ESC = 27;

struct CodeRow {
    int plain, shift, ctrl, alt;
};

// Second codes of the navigation keys, Home to Del in ExtKey order.
constexpr CodeRow navigation_codes[] = {
    {71, 71, 119, 151}, {72, 72, 141, 152}, {73, 73, 134, 153}, {75, 75, 115, 155},
    {77, 77, 116, 157}, {79, 79, 117, 159}, {80, 80, 145, 160}, {81, 81, 118, 161},
    {82, 82, 146, 162}, {83, 83, 147, 163},
};

KeyPress key(int code1, int code2 = -1) {
    KeyPress k;
    k.code1 = code1;
    k.code2 = code2;
    return k;
}

VtDecoded found(size_t consumed, KeyPress k) {
    VtDecoded d;
    d.consumed = consumed;
    d.is_key = true;
    d.key = k;
    return d;
}

VtDecoded passed_over(size_t consumed) {
    VtDecoded d;
    d.consumed = consumed;
    return d;
}

VtDecoded incomplete() {
    return VtDecoded();
}

VtDecoded ext(size_t consumed, ExtKey k, int mods) {
    return found(consumed, ext_key_code(k, mods));
}

ExtKey function_key(int n) {
    return static_cast<ExtKey>(static_cast<int>(ExtKey::F1) + n - 1);
}

/// The modifier bits of an xterm modifier parameter (2 = Shift, 3 = Alt, 5 = Ctrl, ...).
int modifiers(int param) {
    if (param < 2) return 0;
    int bits = param - 1;
    int mods = 0;
    if (bits & 1) mods |= KEYMOD_SHIFT;
    if (bits & (2 | 8)) mods |= KEYMOD_ALT;
    if (bits & 4) mods |= KEYMOD_CTRL;
    return mods;
}

/// A code and the extended key it names.
struct KeyName {
    int code;
    ExtKey key;
};

/// Finds code in table; false when it names no key there.
template <size_t N>
bool find_key(const KeyName (&table)[N], int code, ExtKey& k) {
    for (const KeyName& entry : table) {
        if (entry.code == code) {
            k = entry.key;
            return true;
        }
    }
    return false;
}

/// The numbers of "CSI number ~" sequences that name a key other than F1 to F10.
const KeyName TILDE_KEYS[] = {
    {1, ExtKey::HOME}, {7, ExtKey::HOME}, {2, ExtKey::INS},  {3, ExtKey::DEL},  {4, ExtKey::END},
    {8, ExtKey::END},  {5, ExtKey::PGUP}, {6, ExtKey::PGDN}, {23, ExtKey::F11}, {24, ExtKey::F12}};

/// The key of a "CSI number ~" sequence; false for numbers that name no key.
bool tilde_key(int number, ExtKey& k) {
    if (find_key(TILDE_KEYS, number, k)) return true;
    if (number >= 11 && number <= 15) {
        k = function_key(number - 10);
        return true;
    }
    if (number >= 17 && number <= 21) {
        k = function_key(number - 11);
        return true;
    }
    return false;
}

/// The final letters of the cursor keys, Home and End.
const KeyName LETTER_KEYS[] = {{'A', ExtKey::UP},   {'B', ExtKey::DOWN}, {'C', ExtKey::RIGHT},
                               {'D', ExtKey::LEFT}, {'H', ExtKey::HOME}, {'F', ExtKey::END}};

/// The key named by a final letter (cursor keys, Home, End, F1 to F4); false for others.
bool letter_key(unsigned char c, ExtKey& k) {
    if (c >= 'P' && c <= 'S') {
        k = function_key(c - 'P' + 1);
        return true;
    }
    return find_key(LETTER_KEYS, c, k);
}

constexpr size_t LONGEST_SEQUENCE = 32;

/// s[0..n) begins with ESC '['.
VtDecoded decode_csi(const unsigned char* s, size_t n, bool timed_out) {
    if (n < 3) return timed_out ? found(1, key(ESC)) : incomplete();
    if (s[2] == '[') {  // the Linux console's F1 to F5: ESC [ [ A to E
        if (n < 4) return timed_out ? found(1, key(ESC)) : incomplete();
        if (s[3] >= 'A' && s[3] <= 'E') return ext(4, function_key(s[3] - 'A' + 1), 0);
        return passed_over(4);
    }
    if (s[2] == 'M') {  // a mouse report: three bytes follow
        if (n < 6) return timed_out ? found(1, key(ESC)) : incomplete();
        return passed_over(6);
    }
    int params[2] = {0, 0};
    int count = 0;
    bool private_marker = false;
    size_t i = 2;
    for (; i < n && i < LONGEST_SEQUENCE; ++i) {
        unsigned char c = s[i];
        if (c >= '0' && c <= '9') {
            if (count == 0) count = 1;
            if (count <= 2 && params[count - 1] < 10000)
                params[count - 1] = params[count - 1] * 10 + (c - '0');
        } else if (c == ';') {
            count = (count == 0 ? 1 : count) + 1;
        } else if ((c >= 0x3C && c <= 0x3F) || (c >= 0x20 && c <= 0x2F)) {
            private_marker = true;  // private markers and intermediates: no key of ours has them
        } else {
            break;
        }
    }
    if (i >= LONGEST_SEQUENCE) return passed_over(i);
    if (i >= n) return timed_out ? found(1, key(ESC)) : incomplete();
    unsigned char final_byte = s[i];
    size_t consumed = i + 1;
    if (final_byte < 0x40 || final_byte > 0x7E) return passed_over(i);  // broken: drop it
    if (private_marker) return passed_over(consumed);
    int mods = count >= 2 ? modifiers(params[1]) : 0;
    ExtKey k;
    if (final_byte == '~') {
        if (tilde_key(params[0], k)) return ext(consumed, k, mods);
        return passed_over(consumed);
    }
    if (final_byte == 'Z') return found(consumed, key('\t'));  // Shift+Tab
    if (letter_key(final_byte, k)) return ext(consumed, k, mods);
    return passed_over(consumed);
}

/// s[0..n) begins with ESC 'O'.
VtDecoded decode_ss3(const unsigned char* s, size_t n, bool timed_out) {
    if (n < 3) return timed_out ? found(2, key('O')) : incomplete();  // Alt+O
    unsigned char c = s[2];
    size_t consumed = 3;
    int mods = 0;
    if (c >= '2' && c <= '8') {  // a modifier before the final letter
        if (n < 4) return timed_out ? found(1, key(ESC)) : incomplete();
        mods = modifiers(c - '0');
        c = s[3];
        consumed = 4;
    }
    ExtKey k;
    if (letter_key(c, k)) return ext(consumed, k, mods);
    if (c >= 'p' && c <= 'y') return found(consumed, key('0' + (c - 'p')));  // keypad digits
    if (c == 'M') return found(consumed, key('\r'));                         // keypad Enter
    return passed_over(consumed);
}

// Windows virtual-key codes and control-key state bits.
constexpr uint16_t VK_CODE_ESCAPE = 0x1B;
constexpr uint16_t VK_CODE_F1 = 0x70;
constexpr uint16_t VK_CODE_F12 = 0x7B;
constexpr uint32_t STATE_RIGHT_ALT = 0x01, STATE_LEFT_ALT = 0x02, STATE_RIGHT_CTRL = 0x04,
                   STATE_LEFT_CTRL = 0x08, STATE_SHIFT = 0x10, STATE_ENHANCED = 0x100;

/// The virtual-key codes of the navigation keys.
const KeyName VIRTUAL_KEYS[] = {{0x24, ExtKey::HOME}, {0x26, ExtKey::UP},    {0x21, ExtKey::PGUP},
                                {0x25, ExtKey::LEFT}, {0x27, ExtKey::RIGHT}, {0x23, ExtKey::END},
                                {0x28, ExtKey::DOWN}, {0x22, ExtKey::PGDN},  {0x2D, ExtKey::INS},
                                {0x2E, ExtKey::DEL}};

/// The extended key of a virtual-key code, if it has one.
bool virtual_key_ext(uint16_t vk, ExtKey& k) {
    if (vk >= VK_CODE_F1 && vk <= VK_CODE_F12) {
        k = function_key(vk - VK_CODE_F1 + 1);
        return true;
    }
    return find_key(VIRTUAL_KEYS, vk, k);
}

/// Shift, Ctrl, Alt, Caps Lock, Num Lock, Scroll Lock, the Windows keys, and the left and right
/// Shift, Ctrl and Alt: alone they deliver nothing.
const uint16_t MODIFIER_KEYS[] = {0x10, 0x11, 0x12, 0x14, 0x90, 0x91, 0x5B,
                                  0x5C, 0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5};

bool is_modifier_key(uint16_t vk) {
    for (uint16_t m : MODIFIER_KEYS) {
        if (m == vk) return true;
    }
    return false;
}

}  // namespace

bool console_key_press(const ConsoleKeyEvent& e, bool flags_enhanced, KeyPress& k) {
    if (!e.key_down) return false;
    unsigned char c = e.character;
    // Some consoles deliver Esc with no character, only its virtual key.
    if (c == 0 && e.virtual_key == VK_CODE_ESCAPE) c = 27;
    if (c != 0) {
        k = key(c);
        return true;
    }
    if (is_modifier_key(e.virtual_key)) return false;
    int mods = 0;
    if (e.control_state & STATE_SHIFT) mods |= KEYMOD_SHIFT;
    if (e.control_state & (STATE_LEFT_CTRL | STATE_RIGHT_CTRL)) mods |= KEYMOD_CTRL;
    if (e.control_state & (STATE_LEFT_ALT | STATE_RIGHT_ALT)) mods |= KEYMOD_ALT;
    ExtKey ext_key;
    if (virtual_key_ext(e.virtual_key, ext_key)) {
        // The navigation keys of the numeric keypad are not "enhanced" keys.
        bool keypad = ext_key < ExtKey::F1 && flags_enhanced && !(e.control_state & STATE_ENHANCED);
        k = ext_key_code(ext_key, mods, keypad);
        return true;
    }
    if (e.scan_code == 0) return false;
    k = key(0, e.scan_code);  // any other key without a character: its scan code
    return true;
}

KeyPress ext_key_code(ExtKey k, int mods, bool keypad) {
    int index = static_cast<int>(k);
    if (k >= ExtKey::F1) {
        int n = index - static_cast<int>(ExtKey::F1);  // 0 for F1
        if (k >= ExtKey::F11) {
            int base = k == ExtKey::F11 ? 133 : 134;
            int step = (mods & KEYMOD_ALT)     ? 6
                       : (mods & KEYMOD_CTRL)  ? 4
                       : (mods & KEYMOD_SHIFT) ? 2
                                               : 0;
            return key(KEY_EXT_PREFIX, base + step);
        }
        int base = (mods & KEYMOD_ALT)     ? 104
                   : (mods & KEYMOD_CTRL)  ? 94
                   : (mods & KEYMOD_SHIFT) ? 84
                                           : 59;
        return key(0, base + n);
    }
    const CodeRow& row = navigation_codes[index];
    if (mods & KEYMOD_ALT) return key(0, row.alt);
    int code = (mods & KEYMOD_CTRL) ? row.ctrl : (mods & KEYMOD_SHIFT) ? row.shift : row.plain;
    return key(keypad ? 0 : KEY_EXT_PREFIX, code);
}

VtDecoded vt_decode(const unsigned char* s, size_t n, bool timed_out) {
    if (n == 0) return incomplete();
    if (s[0] == 0) return found(1, key(0, 3));  // Ctrl+@ is the extended code 3
    if (s[0] != ESC) return found(1, key(s[0]));
    if (n == 1) return timed_out ? found(1, key(ESC)) : incomplete();
    if (s[1] == '[') return decode_csi(s, n, timed_out);
    if (s[1] == 'O') return decode_ss3(s, n, timed_out);
    if (s[1] == ESC || s[1] == 0) return found(1, key(ESC));
    return found(2, key(s[1]));  // Alt with a character key sends ESC and the character
}
