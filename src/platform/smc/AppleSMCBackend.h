#pragma once
// The SMC over the Linux applesmc driver's key interface: "key_count", the cursor
// "key_at_index" (an index is written there) and the key it points at, "key_at_index_name",
// "_type", "_data_length" and "_data". Command 8 answers from the index; commands 9 and 5 find
// the key's index in a name -> index map built once at open. The cursor is one per machine,
// so exchanges are serialised in this process, and since another process may still move it,
// the name is read again after the data and the exchange retried when it changed. Command 6
// (write) is unsupported. Without the driver, open answers kSMCReturnNotFound; without the
// right to move the cursor (not root), kSMCReturnNotPrivileged.
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/smc/AppleSMCFiles.h"
#include "platform/smc/SMCBackend.h"

namespace telvo::smc {

class AppleSMCBackend : public SMCBackend {
public:
    // Most keys an SMC is believed to have; a larger count is taken as a faulty read.
    static constexpr long kMaximumKeyCount = 10000;
    // Tries of one exchange while another process moves the cursor.
    static constexpr int kAttempts = 4;

    explicit AppleSMCBackend(AppleSMCFilesPtr files = sysfsAppleSMCFiles());

    SMCStatus open() override;
    void close() override;
    SMCStatus call(const SMCParamStruct& in, SMCParamStruct& out) override;

    // Exchanges retried because the cursor moved under them (for tests and the smoke test).
    int retries() const { return retries_; }

private:
    bool select(size_t index);
    bool readName(std::string& name);
    SMCStatus keyInformation(size_t index, const std::string& key, SMCParamStruct& out);
    SMCStatus readValue(size_t index, const std::string& key, SMCParamStruct& out);

    AppleSMCFilesPtr files_;
    bool open_ = false;
    std::vector<std::string> names_;
    std::map<std::string, size_t> indexOf_;
    int retries_ = 0;
};

}  // namespace telvo::smc
