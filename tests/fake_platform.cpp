#include "tests/fake_platform.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "console/console.h"
#include "platform/private_name.h"

namespace {

std::string slashes(std::string s) {
    for (char& c : s) {
        if (c == '\\') c = '/';
    }
    return s;
}

/// A fault of the test's.
FsResult refused(FsStatus status = FsStatus::FAILED) {
    return FsResult{status, 5, "refused by the test"};
}

/// The answer of an operation that acted and then failed, as fs.lie_as says.
FsResult lied(const FakePlatform& fs) {
    if (fs.lie_as == 1) return FsResult{FsStatus::TAKEN, 17, "File exists"};
    if (fs.lie_as == 2) return FsResult{FsStatus::FAILED, 2, "No such file or directory"};
    return refused();
}

struct FakeSource : SourceFile {
    EntryType kind = EntryType::FILE;
    std::string path;
    EntryType type() const override { return kind; }
    uint64_t size() const override { return 2; }
};

/// A copy, whose data is written under its private name, if it has one, as it is copied.
class FakeCopy : public NewCopy {
   public:
    FakeCopy(FakePlatform& fs, std::string prefix, std::string name)
        : fs_(fs), prefix_(std::move(prefix)), name_(std::move(name)) {}
    const std::string& private_name() const override { return name_; }
    FsResult copy_range(SourceFile& source, uint64_t& copied) override {
        copied = 0;
        if (fs_.fault(Call::COPY_RANGE)) return refused();
        if (parts_++ == 0) {  // the whole content in one part
            data_ = fs_.content[static_cast<FakeSource&>(source).path];
            copied = 2;
        }
        if (!name_.empty()) fs_.content[prefix_ + name_] = data_;
        return FsResult();
    }
    bool source_changed(SourceFile& source) override {
        int& left = fs_.changing[static_cast<FakeSource&>(source).path];
        return left > 0 && left-- > 0;
    }
    FsResult keep_owner(SourceFile&) override { return step(Call::KEEP_OWNER); }
    FsResult keep_group(SourceFile&) override { return step(Call::KEEP_GROUP); }
    FsResult keep_permissions(SourceFile&, bool, bool, std::string&) override {
        return step(Call::KEEP_PERMISSIONS);
    }
    FsResult keep_extended(SourceFile&, bool& narrowing, std::string&) override {
        narrowing = fs_.fault(Call::KEEP_EXTENDED);
        return FsResult();
    }
    FsResult owner_alone(SourceFile&) override { return step(Call::OWNER_ALONE); }
    FsResult keep_times(SourceFile&) override { return step(Call::KEEP_TIMES); }
    FsResult flush() override { return step(Call::FLUSH); }
    bool is(const char* to) override {
        const std::string t = prefix_ + to;
        return fs_.has(t) && !fs_.entries[t] && fs_.content[t] == data_;
    }
    FsResult link_unnamed(const char* to, std::string&) override {
        const std::string t = prefix_ + to;
        const bool fails = fs_.fault(Call::LINK_UNNAMED);
        if (fails && !fs_.lie) return refused();
        if (fs_.has(t) || fs_.move_refused.count(t)) return refused(FsStatus::TAKEN);
        fs_.entries[t] = false;
        fs_.content[t] = data_;
        return fails ? lied(fs_) : FsResult();
    }

   private:
    FsResult step(Call call) { return fs_.fault(call) ? refused() : FsResult(); }

    FakePlatform& fs_;
    std::string prefix_;
    std::string name_;  // private, or empty
    std::string data_;
    int parts_ = 0;
};

/// A name held for its removal, which goes when the hold ends; the file is the content the
/// name had when it was held.
class FakeHeld : public HeldEntry {
   public:
    FakeHeld(FakePlatform& fs, std::string path)
        : fs_(fs), path_(std::move(path)), content_(fs.content[path_]) {}
    ~FakeHeld() override {
        if (!removing_ || !fs_.has(path_) || fs_.content[path_] != content_) return;
        fs_.entries.erase(path_);
        fs_.content.erase(path_);
    }
    bool ordinary() override { return !fs_.entries[path_]; }
    bool same_file(HeldEntry& other) override {
        return content_ == static_cast<FakeHeld&>(other).content_;
    }
    FsResult remove_on_close() override {
        removing_ = true;
        return FsResult();
    }

   private:
    FakePlatform& fs_;
    std::string path_;
    std::string content_;
    bool removing_ = false;
};

/// The refusals foreseen: each time the test's fault comes, a rename (with a copy, an
/// opening) that would be refused.
class FakeForesight : public Foresight {
   public:
    FakeForesight(FakePlatform& fs, std::string prefix) : fs_(fs), prefix_(std::move(prefix)) {}
    Refusal refusal(const char* name, bool copy) override {
        if (!fs_.fault(Call::FORESEE) || !fs_.has(prefix_ + name)) return Refusal();
        return Refusal{copy ? Foreseen::OPEN : Foreseen::RENAME, refused()};
    }

   private:
    FakePlatform& fs_;
    std::string prefix_;
};

/// The directory's operations over the fake tree, each of which may be made to fail.
class FakeDirectory : public Directory {
   public:
    FakeDirectory(FakePlatform& fs, std::string dir, std::vector<FindEntry> found,
                  std::string pattern)
        : Directory(std::move(pattern)),
          fs_(fs),
          prefix_(dir == "/" ? "/" : dir + "/"),
          found_(std::move(found)) {
        traits_.copies_together = 3;
        traits_.longest_name = fs.longest_name;
        traits_.match = NameMatch::UTF8;
        traits_.rename_may_replace = fs.may_replace;
        foresight_.reset(new FakeForesight(fs, prefix_));
    }
    bool next(FindEntry& e, FsResult& failure) override {
        if (at_ >= found_.size()) return false;
        if (fs_.fault(Call::NEXT)) {
            failure = refused();
            return false;
        }
        e = found_[at_++];
        return true;
    }
    EntryType type_of(const char* name) override {
        const std::string p = prefix_ + name;
        if (fs_.fault(Call::TYPE_OF) || !fs_.has(p)) return EntryType::MISSING;
        return fs_.entries[p] ? EntryType::DIRECTORY : EntryType::FILE;
    }
    FsResult look(const char* name, EntryInfo& info) override {
        const std::string p = prefix_ + name;
        if (fs_.fault(Call::LOOK) || !fs_.has(p)) return refused();
        info.type = fs_.entries[p] ? EntryType::DIRECTORY : EntryType::FILE;
        info.size = fs_.content[p].size();
        info.modified = {fs_.modified[p], 0};
        info.changed = {fs_.changed[p], 0};
        // A file's identity is its content, which is its own; a directory's its path.
        info.id = std::hash<std::string>()(fs_.entries[p] ? p : fs_.content[p]);
        return FsResult();
    }
    FsResult rename_noreplace(const char* from, Directory& into, const char* to) override {
        if (fs_.no_noreplace) return FsResult{FsStatus::UNSUPPORTED, 0, ""};
        const std::string f = prefix_ + from, t = other(into).prefix_ + to;
        const bool fails = fs_.fault(Call::RENAME_NO_REPLACE);
        if ((fails && !fs_.lie) || !fs_.has(f) || fs_.move_failing.count(t)) return refused();
        if (taken(t)) return refused(FsStatus::TAKEN);
        move(f, t);
        if (!is_private(from)) ++fs_.moves;
        return fails ? lied(fs_) : FsResult();
    }
    FsResult exchange(const char* a, Directory& b_dir, const char* b) override {
        if (fs_.no_noreplace) return FsResult{FsStatus::UNSUPPORTED, 0, ""};
        const std::string x = prefix_ + a, y = other(b_dir).prefix_ + b;
        const bool fails = fs_.fault(Call::EXCHANGE);
        if ((fails && !fs_.lie) || !fs_.has(x) || !fs_.has(y)) return refused();
        std::swap(fs_.entries[x], fs_.entries[y]);
        std::swap(fs_.content[x], fs_.content[y]);
        return fails ? lied(fs_) : FsResult();
    }
    FsResult rename(const char* from, const char* to) override {
        const std::string f = prefix_ + from, t = prefix_ + to;
        const bool fails = fs_.fault(Call::RENAME);
        if ((fails && !fs_.lie) || !fs_.has(f)) return refused();
        fs_.entries.erase(t);
        fs_.content.erase(t);
        move(f, t);
        return fails ? lied(fs_) : FsResult();
    }
    FsResult link(const char* from, Directory& into, const char* to) override {
        const std::string f = prefix_ + from, t = other(into).prefix_ + to;
        const bool fails = fs_.fault(Call::LINK);
        if ((fails && !fs_.lie) || !fs_.has(f) || fs_.entries[f] || fs_.move_failing.count(t))
            return refused();
        if (taken(t)) return refused(FsStatus::TAKEN);
        fs_.entries[t] = false;
        fs_.content[t] = fs_.content[f];
        if (is_private(from) && !is_private(to) && !copying_) ++fs_.moves;
        return fails ? lied(fs_) : FsResult();
    }
    FsResult remove(const char* name) override {
        const std::string p = prefix_ + name;
        const bool fails = fs_.fault(Call::REMOVE);
        if ((fails && !fs_.lie) || !fs_.has(p) || fs_.entries[p]) return refused();
        fs_.entries.erase(p);
        fs_.content.erase(p);
        return fails ? lied(fs_) : FsResult();
    }
    std::string private_name() override {
        const unsigned r[4] = {0, 0, 0, static_cast<unsigned>(++names_)};
        char name[PRIVATE_NAME_SIZE];
        format_private_name(name, 1, r);
        return name;
    }

    FsResult hold_entry(const char* name, std::unique_ptr<HeldEntry>& held) override {
        const std::string p = prefix_ + name;
        if (fs_.fault(Call::HOLD_ENTRY) || !fs_.has(p)) return refused();
        held.reset(new FakeHeld(fs_, p));
        return FsResult();
    }
    FsResult open_source(const char* name, std::unique_ptr<SourceFile>& source) override {
        const std::string p = prefix_ + name;
        if (fs_.fault(Call::OPEN_SOURCE) || !fs_.has(p)) return refused();
        std::unique_ptr<FakeSource> s(new FakeSource);
        s->path = p;
        if (fs_.entries[p]) s->kind = EntryType::DIRECTORY;
        source = std::move(s);
        return FsResult();
    }
    FsResult create_copy(SourceFile&, std::unique_ptr<NewCopy>& copy) override {
        if (fs_.fault(Call::CREATE_COPY)) return refused();
        std::string name;
        if (!fs_.unnamed_files) {
            name = private_name();
            fs_.entries[prefix_ + name] = false;
            fs_.content[prefix_ + name] = std::string();
        }
        copying_ = true;
        copy.reset(new FakeCopy(fs_, prefix_, name));
        return FsResult();
    }
    FsResult flush_together(const std::vector<NewCopy*>&) override {
        return fs_.fault(Call::FLUSH_TOGETHER) ? refused() : FsResult();
    }
    std::string name_key(const char* name) override {
        std::string key = name;
        if (!fs_.fold_case) return key;
        static const char* const pairs[][2] = {{"\xc3\xa4", "\xc3\x84"},
                                               {"\xc3\xb6", "\xc3\x96"},
                                               {"\xc3\xbc", "\xc3\x9c"},
                                               {"\xcf\x83", "\xce\xa3"}};
        for (const auto& p : pairs) {
            for (size_t at = key.find(p[0]); at != std::string::npos; at = key.find(p[0], at))
                key.replace(at, 2, p[1]);
        }
        for (char& c : key) {
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
        }
        return key;
    }
    FsResult flush_directory() override {
        return fs_.fault(Call::FLUSH_DIRECTORY) ? refused() : FsResult();
    }

    const std::string& prefix() const { return prefix_; }

   private:
    static FakeDirectory& other(Directory& d) { return static_cast<FakeDirectory&>(d); }
    bool taken(const std::string& path) {
        return fs_.has(path) || fs_.move_refused.count(path) != 0;
    }
    static bool is_private(const char* name) { return is_private_name(name); }
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

const char* call_name(Call call) {
    static const char* const names[] = {"full_path",
                                        "current_directory",
                                        "open_directory",
                                        "next",
                                        "type_of",
                                        "look",
                                        "rename_noreplace",
                                        "exchange",
                                        "rename",
                                        "link",
                                        "remove",
                                        "hold_entry",
                                        "open_source",
                                        "create_copy",
                                        "flush_together",
                                        "flush_directory",
                                        "foresee",
                                        "copy_range",
                                        "keep_owner",
                                        "keep_group",
                                        "keep_permissions",
                                        "keep_extended",
                                        "owner_alone",
                                        "keep_times",
                                        "flush",
                                        "link_unnamed"};
    static_assert(sizeof names / sizeof names[0] == static_cast<size_t>(Call::COUNT),
                  "a name for each call");
    return names[static_cast<size_t>(call)];
}

bool FakePlatform::fault(Call call) {
    int n = ++calls[call];
    auto at = fail_at.find(call);
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

FsResult FakePlatform::full_path(const char* path, std::string& out) {
    if (fault(Call::FULL_PATH)) return refused();
    std::string p = slashes(path);
    if (p.empty() || p[0] != '/') {
        if (cwd_fails) return refused();
        p = cwd + "/" + p;
    }
    std::string clean;  // repeated separators fold into one; full paths use the platform's
    for (char c : p) {
        if (c == '/' && !clean.empty() && clean.back() == PLATFORM_SEPARATOR) continue;
        clean += c == '/' ? PLATFORM_SEPARATOR : c;
    }
    out = clean;
    return FsResult();
}

FsResult FakePlatform::current_directory(std::string& out) {
    if (cwd_fails || fault(Call::CURRENT_DIRECTORY)) return refused();
    out = cwd;
    return FsResult();
}

FsResult FakePlatform::open_directory(const char* dir_typed, const char* pattern,
                                      std::unique_ptr<Directory>& opened) {
    if (fault(Call::OPEN_DIRECTORY)) return refused();
    if (!*pattern) return FsResult();
    std::string dir = slashes(dir_typed);
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    while (dir.size() > 1 && dir.find("//") == 0) dir.erase(0, 1);
    if (dir.empty()) dir = cwd;
    if (dir[0] != '/') dir = cwd + "/" + dir;
    if (dir != "/" && (!has(dir) || !entries.at(dir))) return refused(FsStatus::MISSING);
    std::vector<FindEntry> found;
    for (const std::string& n : list(dir)) {
        FindEntry e;
        e.matched = reference_match(pattern, n);
        e.name = n;
        e.is_directory = entries.at(dir == "/" ? "/" + n : dir + "/" + n);
        if (!e.is_directory)
            e.id = std::hash<std::string>()(content[dir == "/" ? "/" + n : dir + "/" + n]);
        if (!listing_ids) e.id = 4294967295u;
        found.push_back(e);
    }
    if (listing_reversed) std::reverse(found.begin(), found.end());
    opened.reset(new FakeDirectory(*this, dir, found, pattern));
    return FsResult();
}

FsResult FakePlatform::open_backups(Directory& files, const char* to, bool make,
                                    BackupsDirectory& out) {
    std::string base = static_cast<FakeDirectory&>(files).prefix();
    base.pop_back();
    std::string typed = slashes(to);
    while (typed.size() > 1 && typed.back() == '/') typed.pop_back();
    const bool absolute = typed[0] == '/';
    std::string path = absolute ? (typed == "/" ? "" : typed) : base;
    if (absolute && !path.empty() && (!has(path) || !entries[path])) return refused();
    const std::string below = absolute ? base : "/" + typed;
    std::string shown = absolute ? path : std::string();
    bool pending = false;
    for (size_t from = 1; from <= below.size();) {
        size_t end = below.find('/', from);
        if (end == std::string::npos) end = below.size();
        const std::string part = below.substr(from, end - from);
        from = end + 1;
        if (part.empty() || part == ".") continue;
        path += "/" + part;
        shown += (shown.empty() ? "" : "/") + part;
        if (!has(path)) {
            out.made.push_back(shown);
            if (!make) pending = true;
            if (make) add_dir(path);
        }
        if (!pending && !entries[path]) return refused();
    }
    out.shown = shown.empty() ? std::string() : shown + "/";
    if (pending) return FsResult();
    out.same = path == base;
    return open_directory(path.empty() ? "/" : path.c_str(), "*", out.dir);
}

FsResult FakePlatform::same_content(Directory& a_dir, const char* a, Directory& b_dir,
                                    const char* b, bool& same) {
    const std::string x = static_cast<FakeDirectory&>(a_dir).prefix() + a;
    const std::string y = static_cast<FakeDirectory&>(b_dir).prefix() + b;
    same = false;
    if (!has(x) || !has(y)) return refused();
    same = x != y && !entries[x] && !entries[y] && content[x] == content[y];
    return FsResult();
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
