#pragma once
// DiskInfoStatCollectorItem: one physical disk of the disk information collector, keyed by its
// whole-disk BSD name, with its information record (name, maker, model, serial, medium,
// connection, size, partitions) as the last registry scan found it. Sent without samples.
#include <cstdint>
#include <string>

#include "collectors/framework/StatCollectorItem.h"

namespace telvo {

class DiskInfoStatCollectorItem : public StatCollectorItem {
public:
    DiskInfoStatCollectorItem() : StatCollectorItem(0) {}

    int64_t session() const { return session_; }
    void setSession(int64_t s) { session_ = s; }
    const Value& info() const { return info_; }
    void setInfo(const Value& info) { info_ = info; }
    const std::string& name() const { return name_; }
    void setName(const std::string& n) { name_ = n; }

    // "partitions" (the partitions' BSD names joined by ","), "raid", "key", "name", "model",
    // "serial", "type", "uuid".
    Value xmlSamplesFromAttributes(const Value& attributes) const override;
    std::string description() const override;

private:
    int64_t session_ = 0;
    Value info_;
    std::string name_;
};

}  // namespace telvo
