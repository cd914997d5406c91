// A command line for the tests, given as words, the program's name first added.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/switches.h"

/// Parses a command line given as words (the program name first is added).
struct Args {
    std::vector<std::string> words;
    std::vector<char*> argv;
    explicit Args(std::vector<std::string> w) : words(std::move(w)) {
        words.insert(words.begin(), "tavrix");
        for (std::string& s : words) argv.push_back(&s[0]);
    }
    ParseResult parse(RunOptions& o) {
        return parse_command_line(static_cast<int>(argv.size()), argv.data(), o);
    }
};

/// Parses words; the options point into them, so they live as long as the test.
inline ParseResult parse(const std::vector<std::string>& words, RunOptions& o) {
    static std::vector<std::unique_ptr<Args>> kept;
    kept.emplace_back(new Args(words));
    return kept.back()->parse(o);
}
