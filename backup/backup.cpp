#include "backup/backup.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "backup/copy.h"
#include "backup/rename.h"
#include "pathstr/pathstr.h"
#include "platform/filesys.h"
#include "platform/traits.h"

namespace {

/// Formats one candidate name; false when the backup's full path, dir_length bytes of
/// directory and the name, would not fit in MAX_PATH.
bool format_candidate(char* out, size_t dir_length, BackupFormat format, bool hex, const char* base,
                      int n, const char* ext) {
    int len;
    if (format == FORMAT_NUMBER) {
        len = hex ? std::snprintf(out, MAX_PATH + 1, "%s.%4.4x", base, n)
                  : std::snprintf(out, MAX_PATH + 1, "%s.%3.3i", base, n);
    } else if (format == FORMAT_BEFORE_EXT) {
        len = hex ? std::snprintf(out, MAX_PATH + 1, "%s.%4.4x%s", base, n, ext)
                  : std::snprintf(out, MAX_PATH + 1, "%s.%3.3i%s", base, n, ext);
    } else {
        len = hex ? std::snprintf(out, MAX_PATH + 1, "%s.%4.4x.bak", base, n)
                  : std::snprintf(out, MAX_PATH + 1, "%s.%3.3i.bak", base, n);
    }
    return len >= 0 && dir_length + static_cast<size_t>(len) < static_cast<size_t>(MAX_PATH);
}

/// Takes one candidate for the file: renames it there, names the prepared copy so, or, for a
/// dry run, only chooses it.
Outcome take_name(BackupPlace& place, EntryMove& move, const char* name, const char* candidate,
                  const BackupRequest& request, PreparedCopy* prepared, BackupResult& result) {
    if (request.dry_run) {
        if (!request.foresee) return Outcome::DONE;
        const Refusal r = foresee(place.dir, name, request.copy);
        if (r.at == Foreseen::NOTHING) return Outcome::DONE;
        result.reason = r.why.words;
        result.step = foreseen_step(r.at);
        return Outcome::REFUSED;
    }
    if (!request.copy) {
        const Outcome r = move.to(candidate);
        result.reason = move.reason();
        result.step = move.step();
        result.note = move.note();
        return r;
    }
    if (!prepared) {
        result.reason = "no copy was made";
        return Outcome::REFUSED;
    }
    const Outcome r = name_copy(place.into(), place.signals, *prepared, candidate, result.reason);
    result.step = prepared->step;
    result.note = prepared->note;
    return r;
}

/// The name's base and extension for the shape: FORMAT_BEFORE_EXT puts the number between
/// them; the others after the whole name. False when the shape needs an extension and the
/// name has none.
bool split_name(const char* name, BackupFormat format, char (&base)[MAX_PATH + 1],
                char (&ext)[MAX_PATH + 1]) {
    // Entry names hold no separator: the extension is the name's own.
    if (format != FORMAT_BEFORE_EXT) {
        str_copy_max(base, name, MAX_PATH);
        ext[0] = '\0';
        return true;
    }
    str_copy_max(ext, path_extension(name), MAX_PATH);
    if (ext[0] == '\0') return false;
    str_copy_max(base, path_strip_extension(name), MAX_PATH);
    return true;
}

/// Tries the candidates from the lowest on; candidate is the last one tried.
Outcome try_candidates(BackupPlace& place, const char* name, const char* shape,
                       const BackupRequest& request, PreparedCopy* prepared, EntryMove& move,
                       char (&candidate)[MAX_PATH + 1], BackupResult& result) {
    char base[MAX_PATH + 1] = {0};
    char ext[MAX_PATH + 1] = {0};
    if (!split_name(shape, request.format, base, ext)) {
        result.outcome = Outcome::NO_EXTENSION;
        return Outcome::REFUSED;
    }
    const int limit = request.hex ? SEQUENCE_LIMIT_HEX : SEQUENCE_LIMIT_DECIMAL;
    bool listed = place.view != nullptr;  // whether the listing still answers for the names
    Outcome last = Outcome::TAKEN;
    for (int i = 0; i < limit && last == Outcome::TAKEN; ++i) {
        if (!format_candidate(candidate, place.elsewhere ? 0 : place.dir_length, request.format,
                              request.hex, base, i, ext) ||
            !place.into().name_fits(candidate)) {
            result.outcome = Outcome::TOO_LONG;
            return Outcome::REFUSED;
        }
        if (listed ? place.view->taken(candidate)
                   : place.into().type_of(candidate) != EntryType::MISSING)
            continue;
        last = take_name(place, move, name, candidate, request, prepared, result);
        if (last == Outcome::TAKEN && listed) {
            // The listing was stale: the candidates are tested on the directory from the first.
            listed = false;
            i = -1;
        }
    }
    result.outcome = last;
    return last;
}

}  // namespace

/// The outcome of the search's end, and of a refusal.
const char* backup_outcome_words(Outcome outcome) {
    switch (outcome) {
        case Outcome::NO_EXTENSION:
            return "no extension for /FORMAT3";
        case Outcome::TOO_LONG:
            return "the name would be too long";
        case Outcome::TAKEN:
            return "every candidate is taken";
        case Outcome::NO_FULL_PATH:
            return "its full path cannot be had";
        case Outcome::CHANGED:
            return "the file changed while it was copied";
        case Outcome::CANCELLED:
            return "cancelled";
        default:
            return nullptr;
    }
}

std::string backup_reason(const BackupResult& r) {
    const char* words = backup_outcome_words(r.outcome);
    return words ? words + r.reason : r.reason;
}

BackupResult backup_file(BackupPlace& place, const char* name, uint64_t id,
                         const BackupRequest& request, PreparedCopy* prepared, const char* shape) {
    if (!shape) shape = name;
    BackupResult result;
    if (place.dir_length == NO_DIRECTORY_PATH) {
        if (prepared) result.reason = told(discard_copy(place.into(), place.signals, *prepared));
        return result;
    }
    if (place.across && !request.copy) {
        result.outcome = Outcome::REFUSED;
        result.step = Step::RENAME;
        result.reason = ACROSS_FILE_SYSTEMS;
        return result;
    }
    char candidate[MAX_PATH + 1] = {0};
    EntryMove move(place.dir, place.into(), place.signals, name, id);
    Outcome last = Outcome::REFUSED;
    if (place.dir_length + std::strlen(shape) >= static_cast<size_t>(MAX_PATH)) {
        result.outcome = Outcome::TOO_LONG;
    } else {
        last = try_candidates(place, name, shape, request, prepared, move, candidate, result);
    }
    if (last == Outcome::DONE) {
        result.backup = candidate;
        // A rename frees the name, for /L too; the backup name is taken from now on.
        if (place.view && !request.copy && &place.into() == &place.dir) place.view->forget(name);
        if (place.view && !request.look_ahead) place.view->add(candidate);
    }
    if (prepared) result.reason += told(discard_copy(place.into(), place.signals, *prepared));
    const std::optional<Leftover> kept = move.finish();
    if (kept) {
        result.outcome = Outcome::REFUSED;
        result.reason = kept->words;
    }
    return result;
}
