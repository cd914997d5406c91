// A run's backups, file after file: renamed at once, or copied in turn, the copies waiting
// to be flushed together and only then named, each file's result told in the order given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "backup/backup.h"
#include "backup/copy.h"

/// How much data copies made may hold before they are flushed together: the memory that
/// waits to be written is bounded.
constexpr uint64_t COPY_BYTES_TOGETHER = 64 << 20;

/// Told what became of each file, in the order the files were added.
class BackupReport {
   public:
    virtual ~BackupReport() = default;
    virtual void told(size_t index, const BackupResult& result) = 0;
    /// Copies of bytes of data in all wait for the disk to take them, until waited.
    virtual void waiting(size_t copies, uint64_t bytes) {
        (void)copies;
        (void)bytes;
    }
    virtual void waited() {}
};

/// Backs up the files of one directory as request says. Copies wait, open, to be flushed
/// together: as many as the directory says may wait, and COPY_BYTES_TOGETHER of data; a copy
/// under a private name never waits, since a signal's handler removes one such name at most.
class BackupBatch {
   public:
    BackupBatch(const BackupPlace& place, const BackupRequest& request, BackupReport& report);
    /// Discards the copies still waiting, untold: nothing of them is left.
    ~BackupBatch();
    BackupBatch(const BackupBatch&) = delete;
    BackupBatch& operator=(const BackupBatch&) = delete;

    /// Backs up the entry name, the index-th of the listing, which gave it the identity id
    /// (watcher follows its copy); its result is told now, or once the copies waiting with it
    /// are named. False when it was cancelled.
    bool add(size_t index, const char* name, uint64_t id, CopyWatcher& watcher);
    /// Flushes the waiting copies together, names them, and tells every waiting result.
    void settle();
    /// Settles, then puts the new names on the disk: the directory is flushed once, when a
    /// copy got its name.
    FsResult finish();

   private:
    struct Waiting {
        size_t index = 0;
        const char* name = nullptr;
        uint64_t id = 0;
        bool prepared = false;  // copy holds what became of it; known otherwise
        PreparedCopy copy;
        BackupResult known;
    };

    BackupPlace place_;
    BackupRequest request_;
    BackupReport& report_;
    bool copying_;
    size_t together_;
    std::vector<Waiting> waiting_;
    uint64_t waiting_bytes_ = 0;
    bool named_ = false;  // a copy got its name
};
