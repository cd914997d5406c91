#include "backup/identity.h"

bool is_listed(Directory& dir, const char* name, uint64_t id) {
    EntryInfo info;
    if (id == 0 || !dir.look(name, info).ok() || info.id != id) return false;
    // An identity names a file only while it lives: one born after the directory was opened
    // is a file made since. One born in the clock's tick of the opening was made before.
    return !info.born_known || !(dir.traits().opened < info.born);
}

bool same_file(Directory& a_dir, const char* a, Directory& b_dir, const char* b) {
    EntryInfo x, y;
    return a_dir.look(a, x).ok() && b_dir.look(b, y).ok() && x.id != 0 && x.id == y.id &&
           x.device == y.device;
}

bool renamed_all_the_same(Directory& dir, const char* from, Directory& into, const char* to,
                          uint64_t id) {
    if (dir.type_of(from) != EntryType::MISSING) return false;
    return id != 0 ? is_listed(into, to, id) : into.type_of(to) != EntryType::MISSING;
}
