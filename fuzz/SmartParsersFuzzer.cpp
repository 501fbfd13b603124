// The SMART parsers on arbitrary bytes: sense data of both formats, 512-byte data, threshold
// and IDENTIFY blocks, NVMe health pages, and the attribute entries under every format.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "collectors/storage/SMARTStatCollectorAttribute.h"
#include "collectors/storage/SMARTStatCollectorItem.h"
#include "platform/smart/SmartData.h"

using namespace telvo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    smart::AtaRegisters regs = smart::parseSense(data, size);
    (void)smart::smartStatusFromRegisters(regs);
    (void)smart::parseNvmeHealth(data, size);

    std::vector<uint8_t> block(smart::kBlockSize, 0);
    memcpy(block.data(), data, size < block.size() ? size : block.size());
    (void)smart::validateBlock(block.data(), block.size());
    (void)smart::parseIdentify(block.data(), block.size());
    (void)smart::parseIdentify(data, size);

    // A read whose data and threshold blocks are the input (checksum or not).
    SMARTReadResult result;
    memcpy(result.data, block.data(), smart::kBlockSize);
    if (size > smart::kBlockSize) {
        const size_t rest = size - smart::kBlockSize;
        memcpy(result.thresholds, data + smart::kBlockSize, rest < smart::kBlockSize ? rest : smart::kBlockSize);
    }
    result.statusRead = size & 1;
    result.blocksRead = smart::validateBlock(result.data, smart::kBlockSize) || (size & 2);
    SMARTStatCollectorItem item;
    item.loadAllAttributes = size & 4;
    item.apply(result, 1);
    (void)item.temperature();

    if (size >= 24) {
        for (int format = -1; format <= 12; ++format) {
            SMARTStatCollectorAttribute a;
            a.format = format;
            a.updateWithAttribute(data, data + 12, 1);
            (void)a.status();
            (void)a.description();
        }
    }
    return 0;
}
