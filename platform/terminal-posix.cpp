// The terminal on POSIX: the console as a VT terminal on standard output, and keys from the
// controlling terminal (/dev/tty), kept in its key mode while the program is in the foreground.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/keys.h"
#include "platform/path-posix.h"
#include "platform/platform.h"
#include "platform/sgr.h"
#include "platform/signals-posix.h"

namespace {

/// How long an Esc waits for the rest of an escape sequence before it counts as Esc.
constexpr int ESC_WAIT_MS = 30;
/// How often a wait for a key looks again whether the terminal is still this program's.
constexpr int TTY_RECHECK_MS = 100;
/// How long the terminal may take to answer a cursor position query.
constexpr int CURSOR_REPLY_MS = 300;

/// Milliseconds of a steady clock.
long long now_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// ---- The terminal: key input and its settings ----

volatile sig_atomic_t tty_fd = -1;  // read by the signal handlers, as is tty_changed
bool tty_tried = false;
struct termios tty_saved;
struct termios tty_raw;
volatile sig_atomic_t tty_changed = 0;  // whether the terminal is in the key mode now
std::string tty_bytes;                  // read from the terminal, not yet delivered
long long tty_last_byte = 0;            // when the last byte arrived

/// Whether this process's group owns the terminal: only then may it read keys or change the
/// terminal's settings (in the background either would stop it).
bool tty_foreground() {
    return tty_fd >= 0 && tcgetpgrp(tty_fd) == getpgrp();
}

/// Puts the terminal back as it was; from the background too, where the shell may hold it.
void restore_tty() {
    if (tty_fd < 0 || !tty_changed) return;
    sigset_t ttou, saved;
    sigemptyset(&ttou);
    sigaddset(&ttou, SIGTTOU);  // blocked, the change goes through instead of stopping us
    sigprocmask(SIG_BLOCK, &ttou, &saved);
    tcsetattr(tty_fd, TCSANOW, &tty_saved);
    sigprocmask(SIG_SETMASK, &saved, nullptr);
    tty_changed = 0;
}

/// The key mode, in the foreground only; the settings to restore are those the terminal has
/// when the program takes it.
void apply_key_mode() {
    if (!tty_foreground()) return;
    if (!tty_changed) {
        struct termios now;
        if (tcgetattr(tty_fd, &now) != 0) return;
        tty_saved = now;
        tty_raw = now;
        tty_raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
        tty_raw.c_cc[VMIN] = 1;
        tty_raw.c_cc[VTIME] = 0;
        std::atomic_signal_fence(std::memory_order_seq_cst);  // tty_saved before tty_changed
    }
    if (tcsetattr(tty_fd, TCSANOW, &tty_raw) == 0) tty_changed = 1;
}

extern "C" void on_stop_signal(int sig) {
    int saved_errno = errno;
    restore_tty();
    signal(sig, SIG_DFL);
    raise(sig);  // stops here until continued
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_stop_signal;
    sa.sa_flags = SA_NODEFER;
    sigaction(sig, &sa, nullptr);
    errno = saved_errno;
}

/// Continued after any stop (SIGSTOP too): the key mode again, if the terminal is ours. In
/// the background its settings are the shell's, not ours to restore; brought to the
/// foreground with no signal (fg of a running job), the next look for a key applies the mode.
extern "C" void on_continue(int) {
    int saved_errno = errno;
    if (tty_foreground()) {
        apply_key_mode();
    } else {
        tty_changed = 0;
    }
    errno = saved_errno;
}

/// The handlers of the stop and continue signals; the ending signals' handler puts the
/// terminal back too.
void install_handlers() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    on_ending_signal(restore_tty);
    install_ending_handlers();
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_stop_signal;
    sa.sa_flags = SA_NODEFER;
    for (int sig : {SIGTSTP, SIGTTIN, SIGTTOU}) sigaction(sig, &sa, nullptr);
    sa.sa_handler = on_continue;
    sa.sa_flags = SA_RESTART;  // a wait for a key (poll) still wakes to look again
    sigaction(SIGCONT, &sa, nullptr);
}

/// True when standard output is a pipe: its reader (a pager) may own the terminal.
bool output_is_pipe() {
    struct stat st;
    return fstat(STDOUT_FILENO, &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode));
}

/// Opens the terminal on first use and, whenever the program is in the foreground, keeps it
/// in non-canonical, no-echo mode until exit; false when there is none, or when output goes
/// to a pipe, whose reader may own it. A job in the background keeps the terminal open but
/// neither reads it nor changes its settings (either would stop it) until it comes to the
/// foreground, even when it was sent there before its first look for a key.
bool tty_open() {
    if (tty_tried) return tty_fd >= 0;
    tty_tried = true;
    if (output_is_pipe()) return false;
    int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    struct termios probe;
    if (tcgetattr(fd, &probe) != 0) {
        close(fd);
        return false;
    }
    tty_fd = fd;
    std::atexit(restore_tty);
    install_handlers();
    apply_key_mode();
    return true;
}

/// Reads what the terminal has sent, waiting at most timeout_ms (-1: until something comes);
/// false when the terminal is gone.
bool tty_fill(int timeout_ms) {
    if (!tty_foreground()) {  // in the background the terminal is never read: wait, then look again
        poll(nullptr, 0,
             timeout_ms < 0 || timeout_ms > TTY_RECHECK_MS ? TTY_RECHECK_MS : timeout_ms);
        return true;
    }
    if (!tty_changed) apply_key_mode();  // back in the foreground
    pollfd p{tty_fd, POLLIN, 0};
    int r =
        poll(&p, 1, timeout_ms < 0 || timeout_ms > TTY_RECHECK_MS ? TTY_RECHECK_MS : timeout_ms);
    if (r < 0) return errno == EINTR;
    if (r == 0) return true;
    if (!(p.revents & POLLIN)) return false;
    if (!tty_foreground()) return true;  // sent to the background meanwhile
    char buffer[256];
    ssize_t n = read(tty_fd, buffer, sizeof buffer);
    if (n < 0) return errno == EINTR || errno == EAGAIN;
    if (n == 0) return false;
    tty_bytes.append(buffer, static_cast<size_t>(n));
    tty_last_byte = now_ms();
    return true;
}

/// Decodes the next key press among the bytes read, dropping what is no key.
bool tty_decode(KeyPress& k, bool& need_more) {
    need_more = false;
    for (;;) {
        bool timed_out = now_ms() - tty_last_byte >= ESC_WAIT_MS;
        VtDecoded d = vt_decode(reinterpret_cast<const unsigned char*>(tty_bytes.data()),
                                tty_bytes.size(), timed_out);
        if (d.consumed == 0) {
            need_more = true;
            return false;
        }
        tty_bytes.erase(0, d.consumed);
        if (d.is_key) {
            k = d.key;
            return true;
        }
    }
}

/// Takes a cursor position report (ESC [ row ; col R) out of the bytes read.
bool take_cursor_report(int& x, int& y) {
    size_t at = 0;
    while ((at = tty_bytes.find("\x1b[", at)) != std::string::npos) {
        size_t i = at + 2;
        int row = 0, col = 0;
        size_t digits = 0;
        while (i < tty_bytes.size() && tty_bytes[i] >= '0' && tty_bytes[i] <= '9' && digits < 6) {
            row = row * 10 + (tty_bytes[i++] - '0');
            ++digits;
        }
        if (digits > 0 && i < tty_bytes.size() && tty_bytes[i] == ';') {
            ++i;
            digits = 0;
            while (i < tty_bytes.size() && tty_bytes[i] >= '0' && tty_bytes[i] <= '9' &&
                   digits < 6) {
                col = col * 10 + (tty_bytes[i++] - '0');
                ++digits;
            }
            if (digits > 0 && i < tty_bytes.size() && tty_bytes[i] == 'R') {
                tty_bytes.erase(at, i + 1 - at);
                x = col - 1;
                y = row - 1;
                return true;
            }
        }
        at += 2;
    }
    return false;
}

// ---- The platform ----

class PosixTerminal : public Terminal {
   public:
    PosixTerminal() {
        const char* term = std::getenv("TERM");
        out_is_tty_ = isatty(STDOUT_FILENO);
        vt_ = out_is_tty_ && term && *term && std::strcmp(term, "dumb") != 0;
        utf8_ = locale_utf8();
    }

    void write_out(const char* text, size_t len) override {
        std::fwrite(text, 1, len, stdout);
        if (out_is_tty_) std::fflush(stdout);
    }

    std::string own_text(const char* text) override {
        std::string s = text;
        if (!utf8_) return s;
        for (size_t at = 0; (at = s.find('\xFE', at)) != std::string::npos; at += 3) {
            s.replace(at, 1, "\xE2\x96\xA0");  // the small filled square
        }
        return s;
    }

    bool output_is_terminal() override { return out_is_tty_; }
    bool error_is_terminal() override { return isatty(STDERR_FILENO); }
    bool output_utf8() override { return utf8_; }
    bool output_c1_controls() override { return !utf8_; }

    /// The window's size comes from the kernel for any terminal, whatever TERM says.
    bool screen_info(ScreenInfo& info) override {
        winsize ws;
        if (!out_is_tty_ || ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) != 0 || ws.ws_row == 0 ||
            ws.ws_col == 0) {
            return false;
        }
        info.width = ws.ws_col;
        info.height = ws.ws_row;
        info.window_top = 0;
        info.window_bottom = ws.ws_row - 1;
        info.attributes = attr_;
        return true;
    }

    void set_attr(uint16_t attr) override {
        if (!vt_) return;
        attr_ = attr;
        emit(sgr_for_attr(attr));
    }

    bool cursor_position(int& x, int& y) override {
        if (!vt_ || !tty_open()) return false;
        emit("\x1b[6n");
        long long deadline = now_ms() + CURSOR_REPLY_MS;
        while (!take_cursor_report(x, y)) {
            long long left = deadline - now_ms();
            if (left <= 0 || !tty_fill(static_cast<int>(left))) return false;
        }
        return true;
    }

    void set_cursor(int x, int y) override {
        ScreenInfo info;
        if (!vt_ || !screen_info(info) || x < 0 || y < 0 || x >= info.width || y >= info.height)
            return;
        emit("\x1b[" + std::to_string(y + 1) + ";" + std::to_string(x + 1) + "H");
    }

    void blank_screen(uint16_t attr) override {
        if (!vt_) return;
        emit(sgr_for_attr(attr) + "\x1b[2J\x1b[3J" + sgr_for_attr(attr_));
    }

    void sleep_ms(int ms) override {
        if (tty_fd >= 0) {
            tty_fill(ms);  // wakes early when a key arrives
        } else {
            poll(nullptr, 0, ms);
        }
    }

    /// In the background no key can come: the help runs to its end there.
    bool key_input() override { return tty_open() && tty_foreground(); }

    bool key_waiting() override {
        if (has_pending_) return true;
        if (!tty_open()) return false;
        if (!tty_fill(0)) return false;
        KeyPress k;
        bool need_more;
        if (!tty_decode(k, need_more)) return false;
        // Put the key back in front for key_next: decoding it again gives the same press.
        pending_ = k;
        has_pending_ = true;
        return true;
    }

    bool key_next(KeyPress& k) override {
        if (has_pending_) {
            k = pending_;
            has_pending_ = false;
            return true;
        }
        if (!tty_open()) return false;
        for (;;) {
            bool need_more;
            if (tty_decode(k, need_more)) return true;
            int wait = tty_bytes.empty() ? -1 : ESC_WAIT_MS;
            if (!tty_fill(wait)) return false;
        }
    }

   private:
    void emit(const std::string& seq) {
        std::fwrite(seq.data(), 1, seq.size(), stdout);
        std::fflush(stdout);
    }

    bool out_is_tty_ = false;
    bool vt_ = false;
    bool utf8_ = false;
    uint16_t attr_ = 0x07;
    KeyPress pending_;
    bool has_pending_ = false;
};

}  // namespace

Terminal& terminal_native() {
    static PosixTerminal t;
    return t;
}
