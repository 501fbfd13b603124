#pragma once
// The one decoder of SMC values: a key's record (type and raw bytes) to a single-precision
// number by a table of the SMC's data types: signed and unsigned fixed point scaled by a power
// of two named in the type, IEEE floats in host order, integers most significant byte first.
// -1 stands for "no reading": an unknown type, a missing key, and (unlike the raw record) a
// float that is not finite. On a machine with an emulated SMC some signed values follow the
// emulator's sign-and-magnitude form; the platform registry sets that flag when it is made.
#include <string>

#include "sensors/SMCResultData.h"

namespace telvo::smcvalues {

// Decodes one record; `type` (1 for temperatures, 0 otherwise) does not change the result.
float convertData(const SMCResultData& data, int type = 0);
// Reads the key into `data` through the shared SMC controller and decodes it.
double valueForSMCKey(const std::string& key, SMCResultData* data);
// Every record is valid.
inline bool isDataValid(const SMCResultData&, int) { return true; }

// Whether the SMC is an emulation (false until the platform registry says otherwise).
bool emulatedSMC();
void setEmulatedSMC(bool emulated);

}  // namespace telvo::smcvalues
