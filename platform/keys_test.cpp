#include "platform/keys.h"

#include <gtest/gtest.h>

#include <string>

namespace {

VtDecoded decode(const std::string& s, bool timed_out = false) {
    return vt_decode(reinterpret_cast<const unsigned char*>(s.data()), s.size(), timed_out);
}

void expect_key(const std::string& seq, int code1, int code2) {
    VtDecoded d = decode(seq);
    EXPECT_TRUE(d.is_key) << seq.substr(1);
    EXPECT_EQ(seq.size(), d.consumed) << seq.substr(1);
    EXPECT_EQ(code1, d.key.code1) << seq.substr(1);
    EXPECT_EQ(code2, d.key.code2) << seq.substr(1);
}

}  // namespace

TEST(KeyDecode, PageUpAndItsModifiers) {
    expect_key("\x1b[5~", 224, 73);
    expect_key("\x1b[5;2~", 224, 73);   // Shift
    expect_key("\x1b[5;5~", 224, 134);  // Ctrl
    expect_key("\x1b[5;3~", 0, 153);    // Alt
    expect_key("\x1b[5;7~", 0, 153);    // Ctrl+Alt: Alt decides
}

TEST(KeyDecode, NavigationAndFunctionKeysInTheirCommonForms) {
    expect_key("\x1b[A", 224, 72);
    expect_key("\x1bOB", 224, 80);
    expect_key("\x1b[1;5C", 224, 116);
    expect_key("\x1b[H", 224, 71);
    expect_key("\x1b[4~", 224, 79);
    expect_key("\x1b[2~", 224, 82);
    expect_key("\x1b[3~", 224, 83);
    expect_key("\x1b[6~", 224, 81);
    expect_key("\x1bOP", 0, 59);
    expect_key("\x1b[1;2P", 0, 84);
    expect_key("\x1b[11~", 0, 59);
    expect_key("\x1b[[E", 0, 63);
    expect_key("\x1b[15~", 0, 63);
    expect_key("\x1b[21~", 0, 68);
    expect_key("\x1b[21;5~", 0, 103);
    expect_key("\x1b[24~", 224, 134);
    expect_key("\x1b[Z", '\t', -1);
    expect_key("\x1bOq", '1', -1);
    expect_key(std::string(1, '\0'), 0, 3);
    expect_key("a", 'a', -1);
    expect_key("\xe0", 224, -1);
    expect_key("\x1bx", 'x', -1);  // Alt+x
}

TEST(KeyDecode, LoneEscWaitsForTheRestOfASequence) {
    EXPECT_EQ(0u, decode("\x1b").consumed);
    EXPECT_EQ(0u, decode("\x1b[").consumed);
    EXPECT_EQ(0u, decode("\x1b[5").consumed);
    EXPECT_EQ(0u, decode("\x1b[5;").consumed);
    VtDecoded esc = decode("\x1b", true);
    EXPECT_TRUE(esc.is_key);
    EXPECT_EQ(1u, esc.consumed);
    EXPECT_EQ(27, esc.key.code1);
    VtDecoded cut = decode("\x1b[5", true);  // a broken sequence: the Esc, then characters
    EXPECT_EQ(1u, cut.consumed);
    EXPECT_EQ(27, cut.key.code1);
    VtDecoded twice = decode("\x1b\x1b");  // the first Esc alone; the second comes next
    EXPECT_EQ(1u, twice.consumed);
    EXPECT_EQ(27, twice.key.code1);
}

TEST(KeyDecode, ReportsThatAreNoKeysArePassedOver) {
    for (std::string s : {"\x1b[I", "\x1b[O", "\x1b[200~", "\x1b[Mabc", "\x1b[<0;3;4M", "\x1b[99~",
                          "\x1b[?1;2c", "\x1bOz"}) {
        VtDecoded d = decode(s);
        EXPECT_FALSE(d.is_key) << s.substr(1);
        EXPECT_EQ(s.size(), d.consumed) << s.substr(1);
    }
    VtDecoded longer = decode("\x1b[" + std::string(40, '1'));
    EXPECT_FALSE(longer.is_key);
    EXPECT_GT(longer.consumed, 0u);
}

TEST(KeyCodes, KeypadWithNumLockOffUsesPrefixZero) {
    KeyPress k = ext_key_code(ExtKey::PGUP, 0, true);
    EXPECT_EQ(0, k.code1);
    EXPECT_EQ(73, k.code2);
    KeyPress alt = ext_key_code(ExtKey::F1, KEYMOD_ALT);
    EXPECT_EQ(0, alt.code1);
    EXPECT_EQ(104, alt.code2);
}

namespace {
ConsoleKeyEvent event(uint16_t vk, uint16_t scan, uint32_t state = 0, unsigned char ch = 0) {
    ConsoleKeyEvent e;
    e.virtual_key = vk;
    e.scan_code = scan;
    e.control_state = state;
    e.character = ch;
    return e;
}

void expect_press(const ConsoleKeyEvent& e, int code1, int code2, bool flags_enhanced = true) {
    KeyPress k;
    ASSERT_TRUE(console_key_press(e, flags_enhanced, k));
    EXPECT_EQ(code1, k.code1);
    EXPECT_EQ(code2, k.code2);
}

constexpr uint32_t ENHANCED = 0x100, SHIFT = 0x10, LEFT_CTRL = 0x08, LEFT_ALT = 0x02;
}  // namespace

TEST(ConsoleKeys, TheContractsTable) {
    expect_press(event(0x1B, 1, 0, 27), 27, -1);               // Esc
    expect_press(event(0x1B, 1), 27, -1);                      // Esc without its character
    expect_press(event(0x21, 73, ENHANCED), 224, 73);          // PgUp
    expect_press(event(0x21, 73, ENHANCED | SHIFT), 224, 73);  // Shift+PgUp
    expect_press(event(0x21, 73, ENHANCED | LEFT_CTRL), 224, 134);
    expect_press(event(0x21, 73, ENHANCED | LEFT_ALT), 0, 153);
    expect_press(event(0x21, 73), 0, 73);           // keypad 9, NumLock off
    expect_press(event(0x21, 73), 224, 73, false);  // where nothing is flagged
    expect_press(event(0x70, 59), 0, 59);           // F1
    expect_press(event(0x70, 59, SHIFT), 0, 84);
    expect_press(event(0x41, 30, LEFT_ALT, 'a'), 'a', -1);  // a character wins
    expect_press(event(0x43, 46, LEFT_CTRL, 3), 3, -1);     // Ctrl+C while reading
    expect_press(event(0x0C, 76), 0, 76);                   // keypad 5: its scan code
}

TEST(ConsoleKeys, ReleasesAndModifiersAloneDeliverNothing) {
    KeyPress k;
    ConsoleKeyEvent up = event(0x21, 73, ENHANCED);
    up.key_down = false;
    EXPECT_FALSE(console_key_press(up, true, k));
    for (uint16_t vk : {0x10, 0x11, 0x12, 0x14, 0x90, 0xA0, 0xA5}) {
        EXPECT_FALSE(console_key_press(event(vk, 42, SHIFT), true, k)) << vk;
    }
    EXPECT_FALSE(console_key_press(event(0xFF, 0), true, k));
}
