// The signals that end the program, on POSIX: held back while a file is between two names,
// and, should one come while a copy waits under its private name or the terminal is in its
// key mode, handled so that neither is left behind.
#include "platform/signals-posix.h"

#include <unistd.h>

#include <csignal>
#include <cstring>

#include "platform/platform.h"
#include "platform/private_name.h"

namespace {

/// A copy's private name, for the handler: the directory, the process id and the name's
/// random part in 16-bit pieces, so that the handler reads nothing but volatile sig_atomic_t.
volatile sig_atomic_t private_dir = -1;
volatile sig_atomic_t private_pid = 0;
volatile sig_atomic_t private_random[4];

void (*volatile restore_terminal)() = nullptr;

/// Removes the copy's private name, if there is one.
void remove_private_name() {
    const int dir = private_dir;
    if (dir < 0) return;
    const unsigned r[4] = {
        static_cast<unsigned>(private_random[0]), static_cast<unsigned>(private_random[1]),
        static_cast<unsigned>(private_random[2]), static_cast<unsigned>(private_random[3])};
    char name[PRIVATE_NAME_SIZE];
    format_private_name(name, private_pid, r);
    unlinkat(dir, name, 0);
}

extern "C" void on_fatal_signal(int sig) {
    if (restore_terminal) restore_terminal();
    remove_private_name();
    signal(sig, SIG_DFL);
    raise(sig);
}

/// Holds back the ending signals and the terminal's stop, process-wide.
class PosixSignals : public Signals {
   public:
    void hold_signals() override {
        if (held_++ > 0) return;
        sigset_t ending = ending_signals();
        sigaddset(&ending, SIGTSTP);
        sigprocmask(SIG_BLOCK, &ending, &saved_mask_);
    }

    void release_signals() override {
        if (held_ == 0 || --held_ > 0) return;
        sigprocmask(SIG_SETMASK, &saved_mask_, nullptr);
    }

   private:
    int held_ = 0;  // nesting of hold_signals
    sigset_t saved_mask_;
};

}  // namespace

std::vector<int> ending_signal_list() {
    // Not SIGXFSZ: a write past the file-size limit fails with EFBIG instead (filesys-posix).
    std::vector<int> list = {SIGHUP,  SIGINT,  SIGQUIT, SIGTERM,   SIGPIPE, SIGALRM,
                             SIGUSR1, SIGUSR2, SIGXCPU, SIGVTALRM, SIGPROF};
#ifdef SIGPWR
    list.push_back(SIGPWR);
#endif
#if defined(SIGIO)
    list.push_back(SIGIO);
#elif defined(SIGPOLL)
    list.push_back(SIGPOLL);
#endif
#ifdef SIGSTKFLT
    list.push_back(SIGSTKFLT);
#endif
#ifdef SIGRTMIN
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) list.push_back(sig);
#endif
    return list;
}

sigset_t ending_signals() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : ending_signal_list()) sigaddset(&set, sig);
    return set;
}

void install_ending_handlers() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_fatal_signal;
    sa.sa_flags = SA_NODEFER | SA_RESETHAND;
    for (int sig : ending_signal_list()) {
        struct sigaction old;
        // A signal the caller chose to ignore stays ignored.
        if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        sigaction(sig, &sa, nullptr);
    }
}

void on_ending_signal(void (*restore)()) {
    restore_terminal = restore;
}

void remove_on_signal(int dir, long pid, const unsigned (&r)[4]) {
    install_ending_handlers();
    private_dir = -1;  // never a name half set
    private_pid = static_cast<sig_atomic_t>(pid);
    for (int i = 0; i < 4; ++i) private_random[i] = static_cast<sig_atomic_t>(r[i]);
    private_dir = dir;
}

void forget_private_name() {
    private_dir = -1;
}

Signals& signals_native() {
    static PosixSignals s;
    return s;
}
