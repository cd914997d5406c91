// Wildcards as Windows reads them, for the systems whose listing does not match names itself.
#pragma once

/// True when name matches pattern: '*' any run (also empty), '?' one character (with utf8,
/// a whole UTF-8 sequence where the name holds one; else one byte), case-sensitive; "*.*"
/// matches every name.
bool wildcard_match(const char* pattern, const char* name, bool utf8 = false);
/// The same with the letters A to Z matching either case, as Windows matches.
bool wildcard_match_nocase(const char* pattern, const char* name);
