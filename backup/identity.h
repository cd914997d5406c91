// What the directory shows of a file's identity, built on its looks: whether a name still
// holds the file a listing gave, whether two names are one file, and whether a step that
// answered an error acted all the same (a network file system's reply lost after the step
// was done). Every such question is asked here, and the names are taken as the directory
// shows them, never as the answer says.
#pragma once

#include <cstdint>

#include "platform/filesys.h"

/// True when the entry name is the file that the listing gave the identity id; false too
/// when it may be a file made since the directory was opened, which the system gave the
/// identity of one removed meanwhile.
bool is_listed(Directory& dir, const char* name, uint64_t id);

/// True when the names a (of a_dir) and b (of b_dir) are known to be one file; false when they
/// are not, or when the file system cannot tell (one that gives each name an identity of its
/// own).
bool same_file(Directory& a_dir, const char* a, Directory& b_dir, const char* b);

/// After a rename of from to the name to of into that answered an error: true when the
/// directories show it done, from free and to the file the listing gave the identity id.
/// With id 0, to need only be there: for a private name alone, which no other process knows.
bool renamed_all_the_same(Directory& dir, const char* from, Directory& into, const char* to,
                          uint64_t id);

/// After a link of from to the name to of into that answered an error: true when to is seen
/// to be from's file.
inline bool linked_all_the_same(Directory& dir, const char* from, Directory& into, const char* to) {
    return same_file(dir, from, into, to);
}
