// Finding a file's first free backup name and renaming the file to it.
#pragma once

/// The shape of a backup name, chosen by /FORMAT1 to /FORMAT4 (values 0 to 3).
using BackupFormat = int;

constexpr BackupFormat FORMAT_BAK = 0;        // name.ext.NNN.bak
constexpr BackupFormat FORMAT_NUMBER = 1;     // name.ext.NNN
constexpr BackupFormat FORMAT_BEFORE_EXT = 2; // name.NNN.ext

/// Decimal candidates 000 to 998.
constexpr int SEQUENCE_LIMIT_DECIMAL = 999;
/// Hexadecimal candidates 0000 to ffff.
constexpr int SEQUENCE_LIMIT_HEX = 0x10000;

/// Renames the file at path to its lowest free backup name; 1 when renamed, 0 otherwise
/// (the file then keeps its name). Never replaces an existing name.
int backup_file(const char* path, BackupFormat format, bool hex);
