// The mount-table and uevent parsers, whose input users shape (mount paths, device names):
// the first byte picks the parser. Decoding never grows the text, every mount record has a
// type, the one-mount-per-device choice never adds mounts, and a parsed uevent repeats its
// header in its pairs.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/diskarb/DiskScanner.h"
#include "platform/diskarb/MountInfo.h"
#include "platform/diskarb/Uevent.h"

using namespace telvo::diskarb;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    if (data[0] & 1) {
        Uevent event;
        if (parseUevent(text.data(), text.size(), event)) {
            if (event.keys["ACTION"] != event.action || event.keys["DEVPATH"] != event.devpath) std::abort();
            if (event.action.empty() || event.devpath.empty()) std::abort();
        }
        return 0;
    }
    if (decodeMountField(text).size() > text.size()) std::abort();
    const auto entries = parseMountInfo(text);
    for (const MountEntry& e : entries) {
        if (e.mountPoint.size() > text.size() || e.fsType.empty()) std::abort();
        (void)fileURLText(e.mountPoint);
    }
    const auto chosen = chooseMounts(entries);
    if (chosen.size() > entries.size()) std::abort();
    return 0;
}
