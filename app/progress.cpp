#include "app/progress.h"

#include "app/format.h"
#include "console/console.h"

bool cancel_requested() {
    return key_available() && read_key() == KEY_ESC;
}

bool CopyProgress::keep_going(uint64_t done, uint64_t total) {
    if (cancel_requested()) return false;
    const auto now = std::chrono::steady_clock::now();
    if (!show_ || now - start_ < std::chrono::seconds(1) ||
        now - shown_ < std::chrono::milliseconds(100)) {
        return true;
    }
    shown_ = now;
    const int window = console_columns();
    const int room = (window > 0 ? window : 80) - 1;  // the last column would wrap the row
    const std::string figures = "  " + std::to_string(total ? done * 100 / total : 100) + "%  " +
                                human_size(done) + " of " + human_size(total);
    const int name_room = room - 2 - text_columns(figures);
    std::string line =
        "  " + fit_columns(console_safe(name_.c_str()), name_room > 3 ? name_room : 3) + figures;
    line = fit_columns(line, room);
    const int columns = text_columns(line);
    console_printf("\r%s%*s", line.c_str(), shown_columns_ > columns ? shown_columns_ - columns : 0,
                   "");
    if (columns > shown_columns_) shown_columns_ = columns;
    return true;
}

void CopyProgress::erase() {
    if (shown_columns_ > 0) console_printf("\r%*s\r", shown_columns_, "");
    shown_columns_ = 0;
}
