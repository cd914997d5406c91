// The string and path routines on any input: each writes at most its bound and a
// terminator, and each result is the part of the path it names.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "pathstr/pathstr.h"
#include "platform/platform.h"

namespace {
constexpr size_t GUARD = 16;

void check(bool ok) {
    if (!ok) std::abort();
}

void check_guard(const char* buf, size_t from, size_t size) {
    for (size_t i = from; i < size; ++i) check(buf[i] == '\x5a');
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const size_t n = data[0] % (MAX_PATH + 2);
    std::string src(reinterpret_cast<const char*>(data + 1), size - 1);
    src = src.substr(0, src.find('\0'));

    // Bounded copy and append: at most n characters and one terminator.
    char buf[MAX_PATH + 2 + GUARD];
    std::memset(buf, '\x5a', sizeof buf);
    str_copy_max(buf, src.c_str(), n);
    size_t copied = std::strlen(buf);
    check(copied <= n && copied <= src.size() && src.compare(0, copied, buf) == 0);
    check_guard(buf, copied + 1, sizeof buf);
    size_t room = n - copied;
    str_concat_max(buf, src.c_str(), room);
    check(std::strlen(buf) <= n);
    check_guard(buf, std::strlen(buf) + 1, sizeof buf);

    // The splitters never overrun their buffers and return parts of the path.
    const char* p = src.c_str();
    std::string ext = path_extension(p);
    check(ext.size() <= MAX_PATH);
    if (!ext.empty() && src.size() <= MAX_PATH) {  // longer ones are cut at the bound
        check(ext[0] == '.' && src.size() >= ext.size() &&
              src.compare(src.size() - ext.size(), ext.size(), ext) == 0);
        check(std::string(path_strip_extension(p)) + ext == src);
    }
    std::string name = path_file_name(p);
    check(name.size() <= MAX_PATH);
    if (src.size() <= MAX_PATH) {
        check(src.size() >= name.size() &&
              src.compare(src.size() - name.size(), name.size(), name) == 0);
    }
    const char* dir = path_directory(p);
    check((dir == nullptr) == src.empty());
    if (dir) {
        size_t len = std::strlen(dir);
        check(len < MAX_PATH);
        check(len == 0 || src.compare(0, len, dir) == 0 || len == 1);  // a root keeps one separator
    }
    check(path_name_start(p) <= src.size());

    char sep[MAX_PATH + 2 + GUARD];
    std::memset(sep, '\x5a', sizeof sep);
    str_copy_max(sep, p, MAX_PATH);
    path_add_separator(sep, PLATFORM_SEPARATOR);
    check(std::strlen(sep) <= MAX_PATH + 1);
    check_guard(sep, std::strlen(sep) + 1, sizeof sep);
    return 0;
}
