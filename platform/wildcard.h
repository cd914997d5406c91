// Wildcards as Windows reads them, for the systems whose listing does not match names itself.
#pragma once

/// True when name matches pattern: '*' any run (also empty), '?' one byte, case-sensitive;
/// "*.*" matches every name.
bool wildcard_match(const char* pattern, const char* name);
/// The same with the letters A to Z matching either case, as Windows matches.
bool wildcard_match_nocase(const char* pattern, const char* name);
