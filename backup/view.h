// What a run knows of the names in one directory, without a call to the file system: a
// hash set of the listing's names, less those renamed since, plus those the run gave where
// names fold.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class Directory;

/// What a run knows of one directory: the names of all its entries when it was listed, less
/// those renamed since. Where names compare byte for byte, the backup names the run makes
/// need no entry: a backup name of one file is never a candidate of another file in the same
/// shape and numbering. Where they compare as the file system folds case, they do.
class DirectoryView {
   public:
    /// names: every entry of the directory, which must outlive the view. folds: the directory,
    /// where names that differ in case are one name (its name_key tells them); null where
    /// names compare byte for byte.
    explicit DirectoryView(const std::vector<std::string>& names, Directory* folds = nullptr);
    bool taken(const char* name) const;
    void forget(const char* name);
    /// A name the run gave a file, or with /L would give it: where names fold, it is taken
    /// for the candidates of the files after it.
    void add(const char* name);

   private:
    size_t find(const char* name) const;  // an index of a name, or the count of names
    const std::string& name_at(size_t i) const;
    void place(uint32_t i);  // into slots_
    const std::vector<std::string>& names_;
    std::vector<std::string> added_;  // indexes names_.size() on
    Directory* folds_;
    std::vector<uint32_t> slots_;  // open addressing: indexes of names, EMPTY where free
    std::vector<char> gone_;
};
