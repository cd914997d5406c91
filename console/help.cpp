#include "console/help.h"

#include <cstdio>
#include <cstdlib>

#include "app/version.h"
#include "console/console.h"

const char* const help_lines[HELP_LINE_COUNT] = {
    // NOLINTNEXTLINE(bugprone-suspicious-missing-comma): the title joins the version in
    "           Tavrix v" TAVRIX_VERSION "  -  numbered backups that never overwrite",
    "",
    "Backs up a file by appending a sequence number string to the filename, thus",
    "preserving the original file from being overwritten by another program",
    "",
    "Files bay be backed up using a number of formats",
    "Wildcards are permitted, subidrectories are not procesed",
    "",
    "Syntax: Tavrix filespec [-switches]",
    "",
    "Switches",
    "",
    "Where TYP is the original document filetype of whatever length",
    "",
    "             Backup filename modifiers",
    "/FORMAT1     *.NNN.BAK  - Sequence number in hexadecimal or decimal",
    "                          e.g. Example.doc => Example.doc.001.bak",
    "/FORMAT2     *.NNN      - Sequence number in hexadecimal or decimal",
    "                          e.g. Example.doc => Example.doc.001",
    "/FORMAT3     *.NNN.typ  - Sequence number with original filetype postfix",
    "/HEX         Use hexadecimal numeric format (the default is decimal)",
    "                          e.e. Example.doc => Example.001A.doc",
};

const char MORE_PROMPT[] = "-- more --";

void help_page(uint16_t title_back, uint16_t text_fore, uint16_t text_back) {
    const int page_size = console_rows() - PAGE_MARGIN;
    console_clear();
    int i = 0;
    while (i < HELP_LINE_COUNT) {
        if (i == 0) {
            console_set_fore(static_cast<uint16_t>(title_back | 0x0F));
            console_printf("%-80s", help_lines[0]);
            console_set_attr(static_cast<uint16_t>(text_fore | text_back));
        } else {
            console_printf("%s\r\n", help_lines[i]);
        }
        // A window of three rows leaves no page at all: the text then runs without pauses.
        if (i == 0 || page_size == 0 || i % page_size != 0) {
            ++i;
            continue;
        }
        int k = prompt_key(MORE_PROMPT);
        console_goto(console_cursor_col(), console_cursor_row() - 1);
        if (k == KEY_EXT_PREFIX) {
            if (read_key() == SCAN_PGUP) {
                console_clear();
                int back = i - 2 * page_size;
                i = back > 0 ? back : 0;
                continue;
            }
        } else if (k == KEY_ESC) {
            return;
        }
        ++i;
    }
}

void show_help(uint16_t title_back, uint16_t text_fore, uint16_t text_back) {
    help_page(title_back, text_fore, text_back);
    std::exit(0);
}
