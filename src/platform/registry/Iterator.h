#pragma once
// An iterator over registry entries: a snapshot of the entries a match or a child walk found,
// handed out one at a time and restartable.
#include <vector>

#include "platform/registry/Entry.h"

namespace telvo::registry {

class Iterator {
public:
    Iterator() = default;
    explicit Iterator(std::vector<EntryRef> entries) : entries_(std::move(entries)) {}

    // The next entry; empty at the end.
    EntryRef next() { return position_ < entries_.size() ? entries_[position_++] : nullptr; }
    // Starts again at the first entry.
    void reset() { position_ = 0; }
    size_t count() const { return entries_.size(); }

private:
    std::vector<EntryRef> entries_;
    size_t position_ = 0;
};

}  // namespace telvo::registry
