// What one step of a backup can end in, shared by the rename and the copy.
#pragma once

#include <string>

#include "platform/filesys.h"

/// What became of one attempt at one backup name.
enum class StepResult {
    DONE,         // the entry (or its copy) has the name
    TAKEN,        // the name exists: nothing changed, the next one may be tried
    REFUSED,      // the system refused; the reason says which step and why
    GONE,         // refused, the file having been removed or renamed by another process
    NOT_REGULAR,  // a FIFO, socket or device, which is never copied
    CANCELLED,    // Esc during a copy
    CHANGED       // the file changed during each of its copies
};

/// A refusal's reason: the step that failed, in plain words, and the system's own words.
inline std::string step_failed(const char* step, const FsResult& r) {
    return r.words.empty() ? std::string(step) : std::string(step) + ": " + r.words;
}

/// Removes name from dir, as the directory shows it afterwards: OK when it is gone, whatever
/// the answer (a reply lost after the removal was done), else the refusal.
inline FsResult remove_and_look(Directory& dir, const char* name) {
    const FsResult r = dir.remove(name);
    return r.ok() || dir.type_of(name) == EntryType::MISSING ? FsResult() : r;
}

/// Removes a private name of this process, once more should it still be there after an
/// error; OK when it is gone, whatever the answers.
inline FsResult remove_private_name(Directory& dir, const char* name) {
    const FsResult r = remove_and_look(dir, name);
    return r.ok() ? r : remove_and_look(dir, name);
}

/// What an entry that has become a directory is refused with, on every platform.
constexpr const char* IS_A_DIRECTORY = "Is a directory";
