// What the user sees and does while a run goes on: Esc, and the row of a long copy.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "backup/copy.h"

/// True when the user pressed Esc; any other key waiting is consumed.
bool cancel_requested();

/// During a long copy: Esc cancels it, and after a second its progress shows on the
/// terminal: one row, written over in place, never wider than the window (a long name is
/// shortened in its middle), erased when the copy is done.
class CopyProgress : public CopyWatcher {
   public:
    CopyProgress(const std::string& name, bool show) : name_(name), show_(show) {}
    ~CopyProgress() override { erase(); }
    void copied() override { erase(); }
    bool keep_going(uint64_t done, uint64_t total) override;

   private:
    void erase();

    const std::string& name_;
    bool show_;
    int shown_columns_ = 0;  // of the widest progress row shown
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point shown_;
};
