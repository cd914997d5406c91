// What the Windows files of the platform share: text between the ANSI code page, UTF-8 and
// UTF-16; the system's words for an error; and whether the program runs under Wine.
//
// The manifest asks for UTF-8 as the ANSI code page (Windows 10 version 1903 and later, and
// Wine): the narrow calls then carry every name. Where the setting is ignored, a name the code
// page cannot hold exactly would reach the program as another name (best fit, or '?'): such
// names are found in UTF-16 and refused, never turned into a look-alike.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

/// True when the ANSI code page is UTF-8.
bool acp_is_utf8();
/// w in the ANSI code page into out; false when a character has no exact form there (no best
/// fit, no default character, no lone surrogate).
bool narrow_exact(const wchar_t* w, std::string& out);
/// Bytes in code page cp as UTF-16.
std::wstring widen(const char* s, size_t len, UINT cp);
/// UTF-16 as UTF-8.
std::string utf8_of(const std::wstring& w);
/// The system's words for an error code, without the final full stop.
std::string system_message(DWORD error);
/// True when the program runs under Wine rather than Windows.
bool running_under_wine();
