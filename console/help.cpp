#include "console/help.h"

#include <cstdio>
#include <cstdlib>

#include "app/version.h"
#include "console/console.h"
#include "platform/platform.h"

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

/// The rows a line of text takes in a window of width columns (0: unknown, one row).
int rows_of(const char* line, int width) {
    const int columns = text_columns(line);
    return width <= 0 || columns <= width ? 1 : (columns + width - 1) / width;
}

void help_page(uint16_t title_back, uint16_t text_fore, uint16_t text_back) {
    const int page_size = console_rows() - PAGE_MARGIN;
    // Rows the text takes up to each line: a line wider than the window counts as the rows
    // it takes, and a page ends where a multiple of the page size is passed.
    const int width = console_columns();
    int upto[HELP_LINE_COUNT];
    upto[0] = rows_of(help_lines[0], width) - 1;  // what the title takes beyond its own row
    for (int k = 1; k < HELP_LINE_COUNT; ++k) upto[k] = upto[k - 1] + rows_of(help_lines[k], width);
    const int page = page_size < 0 ? -page_size : page_size;
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
        if (i == 0 || page == 0 || upto[i - 1] / page == upto[i] / page) {
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
    std::exit(console_exit_status(0));
}

void print_usage() {
    static const char* const usage[] = {
        // NOLINTNEXTLINE(bugprone-suspicious-missing-comma): the title joins the version in
        "Tavrix v" TAVRIX_VERSION " - numbered backups that never overwrite",
        "",
        "Usage: tavrix FILESPEC [SWITCHES]",
        "       tavrix /? | /H | --help | --version",
        "",
        "Backs up every file in one directory that matches FILESPEC under its first free",
        "backup name, never replacing any name. FILESPEC may hold a directory and the",
        "wildcards * and ?; quote it in a POSIX shell. Subdirectories are not entered.",
        "",
        "Switches (/ or -, any case):",
        "  /Q          quiet: no announcement, no summary (also --quiet)",
        "  /HEX        hexadecimal numbers, 0000 to ffff (default: decimal, 000 to 998)",
        "  /FORMAT1    name.ext.NNN.bak   Example.doc => Example.doc.000.bak (default)",
        "  /FORMAT2    name.ext.NNN       Example.doc => Example.doc.000",
        "  /FORMAT3    name.NNN.ext       Example.doc => Example.000.doc",
        "  /FORMAT4    the same names as /FORMAT1",
        "  /L, /N      list what a run would do and change nothing (also --dry-run)",
        "  /COPY       back up by copying: each file stays, its backup is a copy",
        "  /LIST       each file's backups, newest first (by modification time), with size",
        "              and times in local time; changes nothing (also --list)",
        "  /RESTORE    each file's newest backup back under its name; the current file",
        "              first gets its own backup name (also --restore)",
        "  /RESTORE:NNN  the backup numbered NNN (also --restore=NNN)",
        "  /KEEP:N     after each backup, remove the file's backups beyond the N newest",
        "              (.bak shapes only; also --keep=N); or by rules, any of which keeps",
        "              a backup: N, Nh, Nd, Nw, hourly=N, daily=N, weekly=N, monthly=N,",
        "              yearly=N (/KEEP:7,daily=30,monthly=12); the newest always stays",
        "  /CHANGED    back up only files that differ from their newest backup (also",
        "              --changed)",
        "  /TO:DIR     the backups in DIR (relative: from the files' directory; absolute:",
        "              below it the files' full path), made where missing (also --to=DIR)",
        "  /JSON       JSON Lines instead of text, one object per line (also --json)",
        "  /DEBUG      one line for each matching entry and what became of it",
        "  /?, /H      the help screen, one page at a time",
        "  --help      this text",
        "  --version   the version",
        "",
        "Limits: paths of at most 259 bytes; a longer FILESPEC finds nothing. A file whose",
        "full path or backup name would be longer is left alone, as is a file all of whose",
        "999 (or 65,536 with /HEX) backup names are taken.",
        "",
        PLATFORM_KEYS_WITH_PIPED_OUTPUT ? "Esc cancels a run."
                                        : "Esc cancels a run (not when the output goes to a pipe).",
        "",
        "Exit status: 0 after a run in which nothing failed (nothing matched, or Esc, too)",
        "and after help; 4 when a file could not be backed up or restored, a backup could",
        "not be removed, a name could not be looked at, the directory could not be opened",
        "or read, or the /TO directory could not be had (standard error names each, then",
        "counts them; /L gives the run's status);",
        "1 after a second FILESPEC (\"Too many parameters\"); 2 after an unknown switch",
        "beginning with -- or a refused value (/KEEP:0); 3 when standard output could not",
        "be written.",
    };
    for (const char* line : usage) console_printf("%s\n", line);
}
