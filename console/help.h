// The help screen: a fixed text on a cleared console, a title bar in its own colour, paged
// one screenful at a time with PgUp to page back and Esc to leave.
#pragma once

#include <cstdint>

constexpr int HELP_LINE_COUNT = 22;
constexpr int PAGE_MARGIN = 3;
extern const char* const help_lines[HELP_LINE_COUNT];
extern const char MORE_PROMPT[];

/// Draws and pages the help text; returns when it has been shown or the user pressed Esc.
void help_page(uint16_t title_back, uint16_t text_fore, uint16_t text_back);

/// Shows the help screen and ends the process with status 0.
[[noreturn]] void show_help(uint16_t title_back, uint16_t text_fore, uint16_t text_back);

/// Prints the whole usage in plain text, without pages or colours (--help).
void print_usage();
