#include "platform/smc/FakeAppleSMCFiles.h"

#include <cstdlib>

namespace telvo::smc {

bool FakeAppleSMCFiles::read(const std::string& attribute, std::string& contents) {
    bool known = true;
    const Key* key = cursor_ < keys_.size() ? &keys_[cursor_] : nullptr;
    if (attribute == "key_count") {
        contents = std::to_string(keys_.size()) + "\n";
    } else if (attribute == "key_at_index") {
        contents = std::to_string(cursor_) + "\n";
    } else if (attribute.rfind("key_at_index_", 0) == 0) {
        if (!key) return false;  // the driver answers an error past the last key
        if (attribute == "key_at_index_name") contents = key->name + "\n";
        else if (attribute == "key_at_index_type") contents = key->type + "\n";
        else if (attribute == "key_at_index_data_length") contents = std::to_string(key->data.size()) + "\n";
        else if (attribute == "key_at_index_data") contents = key->data;
        else known = false;
    } else {
        known = false;
    }
    if (!known) return false;
    bool counted = false;
    for (auto& [name, n] : reads_)
        if (name == attribute) {
            ++n;
            counted = true;
        }
    if (!counted) reads_.emplace_back(attribute, 1);
    if (afterRead_) afterRead_(attribute);
    return true;
}

bool FakeAppleSMCFiles::write(const std::string& attribute, const std::string& text) {
    if (attribute != "key_at_index" || !writable_) return false;
    char* end = nullptr;
    unsigned long index = std::strtoul(text.c_str(), &end, 10);
    if (end == text.c_str()) return false;
    cursor_ = index;
    return true;
}

int FakeAppleSMCFiles::reads(const std::string& attribute) const {
    for (const auto& [name, n] : reads_)
        if (name == attribute) return n;
    return 0;
}

}  // namespace telvo::smc
