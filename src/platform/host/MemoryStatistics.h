#pragma once
// The machine's memory classes, paging counters, swap use, installed memory and memory
// pressure: the stand-in for the VM statistics record, the swap record, the installed-memory
// size and the memory-pressure level, read from /proc/meminfo, /proc/vmstat,
// /sys/devices/system/memory and /proc/pressure/memory.
//
// Linux has no wired class, no compressor and no purgeable pages; the one place where its
// classes are mapped onto the record's is here (all meminfo fields are KiB):
//   free        = MemFree
//   active      = Active                      (anonymous and file pages on the active list)
//   inactive    = Inactive                    (anonymous and file pages on the inactive list)
//   wired       = MemTotal - MemFree - Active - Inactive - Zswap
//                 (everything the kernel holds off the reclaim lists: slab, kernel stacks,
//                  page tables, vmalloc, per-cpu areas, unevictable and locked pages)
//   compressor  = Zswap                       (the compressed pool; 0 without zswap)
//   external    = Active(file) + Inactive(file)   (file cache)
//   internal    = Active(anon) + Inactive(anon)   (app memory, shared memory included)
//   purgeable   = 0
//   pageins     = pgpgin  (KiB read from block devices)  as pages of `pageSize`
//   pageouts    = pgpgout (KiB written to block devices) as pages of `pageSize`
//   swap total  = SwapTotal, swap used = SwapTotal - SwapFree, in bytes
//   memory size = online memory blocks x block_size_bytes; MemTotal when the memory
//                 folder cannot be read
//   pressure    = the "some avg10" share of /proc/pressure/memory: the percentage of the
//                 last ten seconds in which some task waited for memory
#include <cstdint>
#include <string>

namespace telvo::host {

struct VMStatistics {
    uint64_t pageSize = 4096;  // bytes
    // Page counts.
    uint64_t freePages = 0;
    uint64_t activePages = 0;
    uint64_t inactivePages = 0;
    uint64_t wiredPages = 0;
    uint64_t compressorPages = 0;
    uint64_t externalPages = 0;
    uint64_t internalPages = 0;
    uint64_t purgeablePages = 0;
    // Since boot, in pages.
    uint64_t pageins = 0;
    uint64_t pageouts = 0;
};

struct SwapUsage {
    uint64_t total = 0;  // bytes
    uint64_t used = 0;   // bytes
};

class MemoryStatisticsReader {
public:
    // The VM record and the swap record from /proc/meminfo and /proc/vmstat; false when
    // either file cannot be read or lacks a field the mapping needs (MemTotal, MemFree,
    // Active, Inactive, pgpgin, pgpgout). The records are then left as they were.
    bool read(VMStatistics& vm, SwapUsage& swap);
    // Installed memory in bytes; false when neither the memory blocks nor MemTotal can be read.
    bool readMemorySize(uint64_t& bytes);
    // The memory-pressure percentage; false where the kernel has no pressure file.
    bool readPressure(double& percent);

private:
    std::string meminfo_;
    std::string vmstat_;
    std::string other_;
};

}  // namespace telvo::host
