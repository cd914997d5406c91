#include "platform/sgr.h"

namespace {
/// Console colour bits (blue 1, green 2, red 4) as an ANSI colour index (red 1, green 2, blue 4).
int ansi_colour(int bits) {
    return ((bits & 1) << 2) | (bits & 2) | ((bits & 4) >> 2);
}
}  // namespace

std::string sgr_for_attr(uint16_t attr) {
    int fore = attr & 0x0F;
    int back = (attr >> 4) & 0x0F;
    std::string s = "\x1b[0";
    if (fore != 0x07) {
        int base = (fore & 0x08) ? 90 : 30;
        s += ";" + std::to_string(base + ansi_colour(fore & 7));
    }
    if (back != 0) {
        int base = (back & 0x08) ? 100 : 40;
        s += ";" + std::to_string(base + ansi_colour(back & 7));
    }
    return s + "m";
}
