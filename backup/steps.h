// What one step of a backup can end in, shared by the rename and the copy.
#pragma once

#include <optional>
#include <string>

#include "platform/filesys.h"

/// What an attempt ended in: one step of a backup, the whole backup of a file, or a restore,
/// as the rename, the copy and the restore tell it.
enum class Outcome {
    DONE,          // the entry (or its copy) has the name; with a dry run, the name is chosen
    TAKEN,         // the name exists: nothing changed; of a file, every candidate is taken
    REFUSED,       // the system refused; the reason says which step and why
    GONE,          // refused, the file having been removed or renamed by another process
    NOT_REGULAR,   // a FIFO, socket or device, which is never copied
    CANCELLED,     // Esc during a copy
    CHANGED,       // the file changed during each of its copies
    NO_FULL_PATH,  // of a file: its directory's full path cannot be had
    NO_EXTENSION,  // of a file: /FORMAT3 needs an extension its name has not
    TOO_LONG,      // of a file: its backup name would be too long
    NO_BACKUP,     // of a restore: the file has no backup (of the number asked for)
    UNCHANGED      // of a file (/CHANGED): the same as its newest backup, which is named
};

/// The steps whose failure a run tells: each has its words, which /DEBUG and standard error
/// give, and its name, which /JSON gives as "step" (step_words, step_name).
enum class Step : unsigned char {
    NONE,
    RENAME,            // the rename to a backup name
    HOLD_BACKUP_NAME,  // the backup name held open, to compare it with the file (Wine)
    REMOVE_OLD_NAME,   // the file's own name removed through its handle (Wine)
    LINK,              // the link from a private name to the backup name
    MOVE_ASIDE,        // the move to a private name
    OPEN,              // the file opened for copying
    CREATE_COPY,
    COPY_DATA,
    KEEP_PERMISSIONS,
    KEEP_TIMES,
    FLUSH,
    NAME_COPY,
    LOOK,          // a look at a name
    LOOK_CURRENT,  // a restore's look at the current file
    EXCHANGE,      // a restore's exchange of the backup and the current file
    REMOVE,        // /KEEP's removal of a backup
};

/// A name that the program leaves in the directory, which it meant to remove or give up: the
/// run's report must tell it. Functions that may leave one return it, [[nodiscard]], so that
/// one left untold does not compile (-Werror=unused-result).
struct Leftover {
    std::string name;   // as the directory holds it
    std::string words;  // what the user is told of it: "its copy is left as NAME (why)"
};

/// The words of what is left, after "; ", for a reason or a note; empty where nothing is.
inline std::string told(const std::optional<Leftover>& left) {
    return left ? "; " + left->words : std::string();
}

/// The words of step's failure: "the link to the backup name failed".
const char* step_words(Step step);
/// The step's name as /JSON gives it: "link"; null for NONE.
const char* step_name(Step step);

/// A refusal's reason: the step that failed, in plain words, and the system's own words.
inline std::string step_failed(Step step, const FsResult& r) {
    const std::string words = step_words(step);
    return r.words.empty() ? words : words + ": " + r.words;
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

/// What the directory's platform foresees it would refuse (Foresight::refusal); nothing
/// where the platform foresees nothing.
inline Refusal foresee(Directory& dir, const char* name, bool copy) {
    return dir.foresight() ? dir.foresight()->refusal(name, copy) : Refusal();
}

/// The step at which a foreseen refusal would stop.
Step foreseen_step(Foreseen at);

/// What an entry that has become a directory is refused with, on every platform.
constexpr const char* IS_A_DIRECTORY = "Is a directory";
