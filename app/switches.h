// The command line: the switches, their values, and the options of the run they make.
#pragma once

#include "backup/backup.h"
#include "backup/retention.h"

struct RunOptions {
    const char* spec = nullptr;  // the file specification, if one was given
    BackupFormat format = FORMAT_BAK;
    bool hex = false;
    bool verbose = true;
    bool debug = false;
    bool list_only = false;     // /L: show what a run would do, change nothing
    bool copy = false;          // /COPY: back up by copying, the files stay
    bool list_backups = false;  // /LIST: the backups of each file, newest first
    bool restore = false;       // /RESTORE: each file's newest backup, or restore_at, back
    const char* restore_number = nullptr;  // as typed after /RESTORE: or --restore=
    int restore_at = -1;                   // that number, read; -1 for the newest
    const char* keep_text = nullptr;       // as typed after /KEEP: or --keep=
    int keep = 0;                          // /KEEP:N alone: each file's N newest backups stay
    KeepRules keep_rules;                  // /KEEP:RULES, N among them
    bool changed = false;           // /CHANGED: only files that differ from their newest backup
    bool json = false;              // /JSON: JSON Lines instead of the text
    const char* to = nullptr;       // /TO:DIR: the backups in DIR, as typed
    const char* refusal = nullptr;  // why the switches are refused, when they are
    const char* unknown = nullptr;  // a switch beginning with "--" that is not known
    /// Whether /KEEP removes backups in this run.
    bool keeping() const { return keep > 0 || keep_rules.any(); }
};

enum class ParseResult { RUN, HELP, USAGE, VERSION, TOO_MANY, UNKNOWN_LONG, REFUSED };

/// Reads the arguments from left to right (a leading '-' becomes '/' in place); stops at a
/// help switch, --help, --version, a second file specification, or a switch beginning with
/// "--" that is not known (options.unknown then names it). A bad value or switches that do
/// not go together are REFUSED, options.refusal saying why.
ParseResult parse_command_line(int argc, char** argv, RunOptions& options);
