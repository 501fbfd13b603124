#pragma once
// The connection to a System Management Controller: opened once, then one exchange of an
// SMCParamStruct per command (9 key information, 5 read, 8 key at index, 6 write). The Linux
// backend is AppleSMCBackend; tests use FakeSMC.
#include <memory>

#include "platform/smc/SMCParamStruct.h"

namespace telvo::smc {

class SMCBackend {
public:
    virtual ~SMCBackend() = default;
    // kSMCReturnSuccess, or why the SMC cannot be reached (kSMCReturnNotFound without one).
    virtual SMCStatus open() = 0;
    virtual void close() = 0;
    // One exchange. The status tells whether the exchange happened; the SMC's own answer is
    // `out.result` (0 success, kSMCKeyNotFound for a missing key).
    virtual SMCStatus call(const SMCParamStruct& in, SMCParamStruct& out) = 0;
};

using SMCBackendPtr = std::shared_ptr<SMCBackend>;

}  // namespace telvo::smc
