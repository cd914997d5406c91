// Wildcards as Windows reads them, for the systems whose listing does not match names itself.
#pragma once

/// True when name matches pattern: '*' any run (also empty), '?' one character (with utf8,
/// a whole UTF-8 sequence where the name holds one; else one byte), case-sensitive; "*.*"
/// matches every name.
bool wildcard_match(const char* pattern, const char* name, bool utf8 = false);
/// The same with the letters A to Z matching either case, as Windows matches.
bool wildcard_match_nocase(const char* pattern, const char* name);

/// How a directory's listing matches names against a pattern.
enum class NameMatch { BYTES, UTF8, ANY_CASE };

/// wildcard_match or wildcard_match_nocase, as how says.
inline bool wildcard_match(const char* pattern, const char* name, NameMatch how) {
    return how == NameMatch::ANY_CASE ? wildcard_match_nocase(pattern, name)
                                      : wildcard_match(pattern, name, how == NameMatch::UTF8);
}
