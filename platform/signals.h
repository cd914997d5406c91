// The signals that end the process, as the steps of a backup see them: a process-wide
// interface, apart from the file system and the terminal.
#pragma once

/// Holds back the signals that end the process (Ctrl+C, a hang-up, a termination request)
/// while a file is between two names. Windows ends a console process on Ctrl+C without
/// running its code, so there both calls do nothing.
class Signals {
   public:
    virtual ~Signals() = default;
    /// Until the matching release_signals; calls nest.
    virtual void hold_signals() {}
    virtual void release_signals() {}
};

/// Holds the signals for as long as it lives, when hold is set.
class HeldSignals {
   public:
    HeldSignals(Signals& signals, bool hold = true) : signals_(signals), hold_(hold) {
        if (hold_) signals_.hold_signals();
    }
    ~HeldSignals() {
        if (hold_) signals_.release_signals();
    }
    HeldSignals(const HeldSignals&) = delete;
    HeldSignals& operator=(const HeldSignals&) = delete;

   private:
    Signals& signals_;
    bool hold_;
};
