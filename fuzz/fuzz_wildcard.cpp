// The wildcard matcher against a slow, obviously right one.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/wildcard.h"
#include "tests/fake_platform.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string input(reinterpret_cast<const char*>(data), size);
    size_t cut = input.find('\0');
    if (cut == std::string::npos) return 0;
    std::string pattern = input.substr(0, cut);
    std::string name = input.substr(cut + 1);
    name = name.substr(0, name.find('\0'));
    if (wildcard_match(pattern.c_str(), name.c_str()) != reference_match(pattern, name))
        std::abort();
    return 0;
}
