#include "backup/view.h"

#include "platform/filesys.h"

namespace {

constexpr uint32_t EMPTY = 0xFFFFFFFFu;

/// FNV-1a over the name.
uint32_t hash_name(const char* s) {
    uint32_t h = 2166136261u;
    for (; *s; ++s) h = (h ^ static_cast<unsigned char>(*s)) * 16777619u;
    return h;
}

}  // namespace

DirectoryView::DirectoryView(const std::vector<std::string>& names, Directory* folds)
    : names_(names), folds_(folds), gone_(names.size(), 0) {
    size_t size = 16;
    while (size < 2 * names.size()) size *= 2;
    slots_.assign(size, EMPTY);
    for (size_t i = 0; i < names.size(); ++i) place(static_cast<uint32_t>(i));
}

const std::string& DirectoryView::name_at(size_t i) const {
    return i < names_.size() ? names_[i] : added_[i - names_.size()];
}

void DirectoryView::place(uint32_t i) {
    const size_t mask = slots_.size() - 1;
    const char* name = name_at(i).c_str();
    const std::string folded = folds_ ? folds_->name_key(name) : std::string();
    size_t at = hash_name(folds_ ? folded.c_str() : name) & mask;
    while (slots_[at] != EMPTY) at = (at + 1) & mask;
    slots_[at] = i;
}

size_t DirectoryView::find(const char* name) const {
    const size_t mask = slots_.size() - 1;
    const std::string folded = folds_ ? folds_->name_key(name) : std::string();
    if (folds_) name = folded.c_str();
    // Equal names may both be there (a view where names fold): the first present one.
    for (size_t at = hash_name(name) & mask; slots_[at] != EMPTY; at = (at + 1) & mask) {
        const uint32_t i = slots_[at];
        if (gone_[i]) continue;
        const std::string& listed = name_at(i);
        if (folds_ ? folds_->name_key(listed.c_str()) == folded : listed == name) return i;
    }
    return gone_.size();
}

bool DirectoryView::taken(const char* name) const {
    return find(name) != gone_.size();
}

void DirectoryView::forget(const char* name) {
    size_t i = find(name);
    if (i != gone_.size()) gone_[i] = 1;
}

void DirectoryView::add(const char* name) {
    if (!folds_) return;
    if (2 * (gone_.size() + 1) > slots_.size()) {  // at most half full
        slots_.assign(2 * slots_.size(), EMPTY);
        for (size_t i = 0; i < gone_.size(); ++i) place(static_cast<uint32_t>(i));
    }
    added_.emplace_back(name);
    gone_.push_back(0);
    place(static_cast<uint32_t>(gone_.size() - 1));
}
