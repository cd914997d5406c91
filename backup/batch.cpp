#include "backup/batch.h"

#include <algorithm>
#include <utility>

BackupBatch::BackupBatch(const BackupPlace& place, const BackupRequest& request,
                         BackupReport& report)
    : place_(place),
      request_(request),
      report_(report),
      copying_(request.copy && !request.dry_run),
      together_(copying_ ? std::max<size_t>(1, place.into().traits().copies_together) : 1) {}

BackupBatch::~BackupBatch() {
    // Only where the run ended before finish(): no copy gets its name, and what is left of
    // one is told.
    for (Waiting& w : waiting_) {
        const std::optional<Leftover> left = discard_copy(place_.into(), place_.signals, w.copy);
        if (!left || !w.prepared) continue;
        BackupResult r = w.known;
        r.outcome = Outcome::CANCELLED;
        r.reason = told(left);
        report_.told(w.index, r);
    }
}

bool BackupBatch::add(size_t index, const char* name, uint64_t id, CopyWatcher& watcher) {
    Waiting w;
    w.index = index;
    w.name = name;
    w.id = id;
    if (copying_) {
        // The name is foreseen first: a file that could get none is not copied.
        BackupRequest choose = request_;
        choose.dry_run = true;
        choose.foresee = false;
        choose.look_ahead = true;
        w.known = backup_file(place_, name, id, choose);
        w.prepared = w.known.outcome == Outcome::DONE;
        if (w.prepared)
            w.copy = prepare_copy(place_.dir, place_.into(), place_.signals, name, watcher);
    } else {
        w.known = backup_file(place_, name, id, request_);
    }
    const bool cancelled =
        w.prepared ? w.copy.result == Outcome::CANCELLED : w.known.outcome == Outcome::CANCELLED;
    const bool alone = w.prepared && w.copy.copy && !w.copy.copy->private_name().empty();
    if (w.prepared) waiting_bytes_ += w.copy.size;
    waiting_.push_back(std::move(w));
    if (waiting_.size() >= together_ || waiting_bytes_ >= COPY_BYTES_TOGETHER || alone ||
        cancelled) {
        settle();
    }
    return !cancelled;
}

void BackupBatch::settle() {
    std::vector<PreparedCopy*> ready;
    for (Waiting& w : waiting_) {
        if (w.prepared) ready.push_back(&w.copy);
    }
    if (!ready.empty()) report_.waiting(ready.size(), waiting_bytes_);
    flush_copies(place_.into(), place_.signals, ready);
    if (!ready.empty()) report_.waited();
    for (Waiting& w : waiting_) {
        BackupResult r = w.known;
        if (w.prepared && w.copy.result == Outcome::DONE) {
            r = backup_file(place_, w.name, w.id, request_, &w.copy);
        } else if (w.prepared) {
            r.outcome = w.copy.result;
            r.reason = w.copy.reason;
            r.step = w.copy.step;
        }
        named_ = named_ || (copying_ && r.outcome == Outcome::DONE);
        report_.told(w.index, r);
    }
    waiting_.clear();
    waiting_bytes_ = 0;
}

FsResult BackupBatch::finish() {
    settle();
    if (!named_) return FsResult();
    named_ = false;
    return place_.into().flush_directory();
}
