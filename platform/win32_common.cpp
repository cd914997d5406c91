#include "platform/win32_common.h"

bool acp_is_utf8() {
    return GetACP() == CP_UTF8;
}

bool narrow_exact(const wchar_t* w, std::string& out) {
    const bool utf8 = acp_is_utf8();
    const UINT cp = utf8 ? CP_UTF8 : CP_ACP;
    const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    BOOL used_default = FALSE;
    int n =
        WideCharToMultiByte(cp, flags, w, -1, nullptr, 0, nullptr, utf8 ? nullptr : &used_default);
    if (n <= 0 || used_default) return false;
    out.assign(static_cast<size_t>(n), '\0');
    n = WideCharToMultiByte(cp, flags, w, -1, &out[0], n, nullptr, utf8 ? nullptr : &used_default);
    if (n <= 0 || used_default) return false;
    out.resize(static_cast<size_t>(n) - 1);
    return true;
}

std::wstring widen(const char* s, size_t len, UINT cp) {
    if (len == 0) return std::wstring();
    int n = MultiByteToWideChar(cp, 0, s, static_cast<int>(len), nullptr, 0);
    std::wstring w(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(cp, 0, s, static_cast<int>(len), &w[0], n);
    return w;
}

std::string utf8_of(const std::wstring& w) {
    if (w.empty()) return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                nullptr, nullptr);
    std::string s(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), &s[0], n, nullptr,
                            nullptr);
    return s;
}

std::string system_message(DWORD error) {
    char text[256] = {0};
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             error, 0, text, sizeof text, nullptr);
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == '.'))
        text[--n] = 0;
    return n ? std::string(text) : "error " + std::to_string(error);
}

bool running_under_wine() {
    static const bool wine = [] {
        HMODULE ntdll = GetModuleHandleA("ntdll.dll");
        return ntdll && GetProcAddress(ntdll, "wine_get_version");
    }();
    return wine;
}
