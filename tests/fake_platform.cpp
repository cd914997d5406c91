#include "tests/fake_platform.h"

#include <cstdio>
#include <cstring>

#include "console/console.h"

namespace {

std::string slashes(std::string s) {
    for (char& c : s) {
        if (c == '\\') c = '/';
    }
    return s;
}

struct FakeSource : SourceFile {
    EntryType kind = EntryType::FILE;
    std::string path;
    EntryType type() const override { return kind; }
    uint64_t size() const override { return 2; }
};

struct FakeHidden : HiddenFile {
    std::string name;  // private, or empty
    std::string data;
    int parts = 0;
    const std::string& private_name() const override { return name; }
};

/// The directory's operations over the fake tree, each of which may be made to fail.
class FakeDirectory : public Directory {
   public:
    FakeDirectory(FakePlatform& fs, std::string dir, std::vector<FindEntry> found)
        : fs_(fs), prefix_(dir == "/" ? "/" : dir + "/"), found_(std::move(found)) {}
    bool next(FindEntry& e) override {
        if (at_ >= found_.size()) return false;
        if (fs_.fault("next")) {
            failed_ = true;
            return false;
        }
        e = found_[at_++];
        return true;
    }
    std::string listing_error() override { return failed_ ? "refused by the test" : std::string(); }
    EntryType type_of(const char* name) override {
        const std::string p = prefix_ + name;
        if (fs_.fault("type_of") || !fs_.has(p)) return EntryType::MISSING;
        return fs_.entries[p] ? EntryType::DIRECTORY : EntryType::FILE;
    }
    FsStatus rename_noreplace(const char* from, const char* to) override {
        if (fs_.no_noreplace) return FsStatus::UNSUPPORTED;
        const std::string f = prefix_ + from, t = prefix_ + to;
        if (fs_.fault("rename_noreplace") || !fs_.has(f) || fs_.move_failing.count(t))
            return FsStatus::FAILED;
        if (taken(t)) return FsStatus::TAKEN;
        move(f, t);
        if (!is_private(from)) ++fs_.moves;
        return FsStatus::OK;
    }
    FsStatus rename_private(const char* from, const char* to) override {
        const std::string f = prefix_ + from, t = prefix_ + to;
        if (fs_.fault("rename_private") || !fs_.has(f)) return FsStatus::FAILED;
        fs_.entries.erase(t);
        fs_.content.erase(t);
        move(f, t);
        return FsStatus::OK;
    }
    FsStatus link(const char* from, const char* to) override {
        const std::string f = prefix_ + from, t = prefix_ + to;
        if (fs_.fault("link") || !fs_.has(f) || fs_.entries[f] || fs_.move_failing.count(t))
            return FsStatus::FAILED;
        if (taken(t)) return FsStatus::TAKEN;
        fs_.entries[t] = false;
        fs_.content[t] = fs_.content[f];
        if (is_private(from) && !is_private(to) && !copying_) ++fs_.moves;
        return FsStatus::OK;
    }
    FsStatus remove(const char* name) override {
        const std::string p = prefix_ + name;
        if (fs_.fault("remove") || !fs_.has(p) || fs_.entries[p]) return FsStatus::FAILED;
        fs_.entries.erase(p);
        fs_.content.erase(p);
        return FsStatus::OK;
    }
    std::string private_name() override { return ".tavrix-1-" + std::to_string(++names_) + ".tmp"; }
    void hold_signals() override { ++fs_.held; }
    void release_signals() override { --fs_.held; }

    std::unique_ptr<SourceFile> open_source(const char* name) override {
        const std::string p = prefix_ + name;
        if (fs_.fault("open_source") || !fs_.has(p)) return nullptr;
        std::unique_ptr<FakeSource> s(new FakeSource);
        s->path = p;
        if (fs_.entries[p]) s->kind = EntryType::DIRECTORY;
        return std::unique_ptr<SourceFile>(s.release());
    }
    std::unique_ptr<HiddenFile> create_hidden(SourceFile&) override {
        if (fs_.fault("create_hidden")) return nullptr;
        std::unique_ptr<FakeHidden> h(new FakeHidden);
        if (!fs_.unnamed_files) {
            h->name = private_name();
            fs_.entries[prefix_ + h->name] = false;
            fs_.content[prefix_ + h->name] = std::string();
        }
        copying_ = true;
        return std::unique_ptr<HiddenFile>(h.release());
    }
    FsStatus copy_chunk(SourceFile& source, HiddenFile& copy, uint64_t& copied) override {
        FakeHidden& h = static_cast<FakeHidden&>(copy);
        copied = 0;
        if (fs_.fault("copy_chunk")) return FsStatus::FAILED;
        if (h.parts++ == 0) {  // the whole content in one part
            h.data = fs_.content[static_cast<FakeSource&>(source).path];
            copied = 2;
        }
        if (!h.name.empty()) fs_.content[prefix_ + h.name] = h.data;
        return FsStatus::OK;
    }
    bool source_changed(SourceFile& source, HiddenFile&) override {
        int& left = fs_.changing[static_cast<FakeSource&>(source).path];
        return left > 0 && left-- > 0;
    }
    FsStatus keep_attributes(SourceFile&, HiddenFile&) override {
        return fs_.fault("keep_attributes") ? FsStatus::FAILED : FsStatus::OK;
    }
    FsStatus flush(HiddenFile&) override {
        return fs_.fault("flush") ? FsStatus::FAILED : FsStatus::OK;
    }
    FsStatus flush_together(const std::vector<HiddenFile*>&) override {
        return fs_.fault("flush_together") ? FsStatus::FAILED : FsStatus::OK;
    }
    size_t copies_together() override { return 3; }
    FsStatus flush_directory() override {
        return fs_.fault("flush_directory") ? FsStatus::FAILED : FsStatus::OK;
    }
    FsStatus name_unnamed(HiddenFile& copy, const char* to) override {
        const std::string t = prefix_ + to;
        if (fs_.fault("name_unnamed")) return FsStatus::FAILED;
        if (taken(t)) return FsStatus::TAKEN;
        fs_.entries[t] = false;
        fs_.content[t] = static_cast<FakeHidden&>(copy).data;
        return FsStatus::OK;
    }
    std::string last_error() override { return "refused by the test"; }

   private:
    bool taken(const std::string& path) {
        return fs_.has(path) || fs_.move_refused.count(path) != 0;
    }
    static bool is_private(const char* name) { return std::strncmp(name, ".tavrix-", 8) == 0; }
    void move(const std::string& f, const std::string& t) {
        fs_.entries[t] = fs_.entries[f];
        fs_.entries.erase(f);
        if (fs_.content.count(f)) fs_.content[t] = fs_.content[f];
        fs_.content.erase(f);
    }

    FakePlatform& fs_;
    std::string prefix_;
    std::vector<FindEntry> found_;
    size_t at_ = 0;
    int names_ = 0;
    bool failed_ = false;   // the listing stopped early
    bool copying_ = false;  // a link now names a copy, not a file moved
};

}  // namespace

bool reference_match(const std::string& pattern, const std::string& name) {
    if (pattern == "*.*") return true;
    // can[i][j]: the first i characters of the pattern match the first j of the name.
    std::vector<std::vector<bool>> can(pattern.size() + 1, std::vector<bool>(name.size() + 1));
    can[0][0] = true;
    for (size_t i = 1; i <= pattern.size(); ++i) {
        char p = pattern[i - 1];
        for (size_t j = 0; j <= name.size(); ++j) {
            if (p == '*') {
                can[i][j] = can[i - 1][j] || (j > 0 && can[i][j - 1]);
            } else {
                can[i][j] = j > 0 && can[i - 1][j - 1] && (p == '?' || p == name[j - 1]);
            }
        }
    }
    return can[pattern.size()][name.size()];
}

FakePlatform::FakePlatform() {
    platform_install(this);
    console_reset_keys();
}

FakePlatform::~FakePlatform() {
    platform_install(nullptr);
    console_reset_keys();
}

bool FakePlatform::fault(const std::string& op) {
    int n = ++calls[op];
    auto at = fail_at.find(op);
    if (at == fail_at.end()) return false;
    return fail_on ? n >= at->second : n == at->second;
}

std::vector<std::string> FakePlatform::list(const std::string& dir) const {
    std::vector<std::string> names;
    std::string prefix = dir == "/" ? "/" : dir + "/";
    for (const auto& e : entries) {
        if (e.first.compare(0, prefix.size(), prefix) != 0) continue;
        std::string rest = e.first.substr(prefix.size());
        if (!rest.empty() && rest.find('/') == std::string::npos) names.push_back(rest);
    }
    return names;
}

size_t FakePlatform::full_path(const char* path, char* buf, size_t size) {
    if (fault("full_path")) return 0;
    std::string p = slashes(path);
    if (p.empty() || p[0] != '/') {
        if (cwd_fails) return 0;
        p = cwd + "/" + p;
    }
    std::string clean;  // repeated separators fold into one; full paths use the platform's
    for (char c : p) {
        if (c == '/' && !clean.empty() && clean.back() == PLATFORM_SEPARATOR) continue;
        clean += c == '/' ? PLATFORM_SEPARATOR : c;
    }
    return platform_give_back(clean, buf, size);
}

size_t FakePlatform::current_directory(char* buf, size_t size) {
    if (cwd_fails || fault("current_directory")) return 0;
    return platform_give_back(cwd, buf, size);
}

std::unique_ptr<Directory> FakePlatform::open_directory(const char* dir_typed,
                                                        const char* pattern) {
    if (fault("open_directory") || !*pattern) return nullptr;
    std::string dir = slashes(dir_typed);
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    while (dir.size() > 1 && dir.find("//") == 0) dir.erase(0, 1);
    if (dir.empty()) dir = cwd;
    if (dir[0] != '/') dir = cwd + "/" + dir;
    if (dir != "/" && (!has(dir) || !entries.at(dir))) return nullptr;
    std::vector<FindEntry> found;
    for (const std::string& n : list(dir)) {
        FindEntry e;
        e.matched = reference_match(pattern, n);
        e.name = n;
        e.is_directory = entries.at(dir == "/" ? "/" + n : dir + "/" + n);
        found.push_back(e);
    }
    return std::unique_ptr<Directory>(new FakeDirectory(*this, dir, found));
}

void FakePlatform::write_out(const char* text, size_t len) {
    out.append(text, len);
    if (!console) return;
    for (size_t i = 0; i < len; ++i) {
        if (text[i] == '\r') {
            cursor_x = 0;
        } else if (text[i] == '\n') {  // text mode: a line end returns the carriage too
            cursor_x = 0;
            if (cursor_y < height - 1) ++cursor_y;
        } else if (++cursor_x >= width) {
            cursor_x = 0;
            if (cursor_y < height - 1) ++cursor_y;
        }
    }
}

bool FakePlatform::screen_info(ScreenInfo& info) {
    if (!console) return false;
    info.width = width;
    info.height = height;
    info.window_top = 0;
    info.window_bottom = height - 1;
    info.attributes = attr;
    return true;
}

void FakePlatform::set_attr(uint16_t a) {
    if (!console) return;
    attr = a;
    if (marks) {
        char mark[16];
        std::snprintf(mark, sizeof mark, "{attr %02x}", a);
        out += mark;
    }
}

bool FakePlatform::cursor_position(int& x, int& y) {
    if (!console) return false;
    x = cursor_x;
    y = cursor_y;
    return true;
}

void FakePlatform::set_cursor(int x, int y) {
    if (!console || x < 0 || y < 0 || x >= width || y >= height) return;
    cursor_x = x;
    cursor_y = y;
    if (marks) out += "{goto " + std::to_string(x) + "," + std::to_string(y) + "}";
}

void FakePlatform::blank_screen(uint16_t) {
    if (!console) return;
    ++clears;
    if (marks) out += "{clear}";
}

void FakePlatform::sleep_ms(int) {
    if (!later.empty()) {
        keys.push_back(later.front());
        later.pop_front();
    }
    // A test that waits for a key nobody will press ends the wait with Esc.
    if (++sleeps > 1000 && keys.empty()) press(KEY_ESC);
}

bool FakePlatform::key_next(KeyPress& k) {
    if (input && keys.empty() && !later.empty()) {  // waits for the next key pressed
        keys.push_back(later.front());
        later.pop_front();
    }
    if (!input || keys.empty()) return false;
    k = keys.front();
    keys.pop_front();
    return true;
}
