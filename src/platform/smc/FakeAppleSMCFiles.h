#pragma once
// The applesmc driver's key files held in memory, for tests: one machine-wide cursor that a
// write to "key_at_index" moves and the "key_at_index_*" files read through, as the driver's
// do, with a hook that lets "another process" move the cursor between two reads.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/smc/AppleSMCFiles.h"

namespace telvo::smc {

class FakeAppleSMCFiles : public AppleSMCFiles {
public:
    struct Key {
        std::string name;
        std::string type;  // four characters ("flt " keeps its space)
        std::string data;  // raw bytes
    };
    explicit FakeAppleSMCFiles(std::vector<Key> keys) : keys_(std::move(keys)) {}

    bool read(const std::string& attribute, std::string& contents) override;
    bool write(const std::string& attribute, const std::string& text) override;

    // Writing the cursor fails (as for a user who is not root).
    void setCursorWritable(bool writable) { writable_ = writable; }
    // Called after every read; it may move the cursor (moveCursor) as another process would.
    void setAfterRead(std::function<void(const std::string& attribute)> hook) { afterRead_ = std::move(hook); }
    void moveCursor(size_t index) { cursor_ = index; }
    size_t cursor() const { return cursor_; }
    int reads(const std::string& attribute) const;

private:
    std::vector<Key> keys_;
    size_t cursor_ = 0;
    bool writable_ = true;
    std::function<void(const std::string&)> afterRead_;
    std::vector<std::pair<std::string, int>> reads_;
};

}  // namespace telvo::smc
