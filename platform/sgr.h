// The console's colours on a VT terminal.
#pragma once

#include <cstdint>
#include <string>

/// The SGR sequence that shows a console attribute. Light grey on black, the console's
/// normal colours, are the terminal's own default colours.
std::string sgr_for_attr(uint16_t attr);
