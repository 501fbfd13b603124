// Memory classes, paging, swap, installed memory and pressure from /proc and /sys; the
// mapping of Linux's classes is described in the header.
#include "platform/host/MemoryStatistics.h"

#include <dirent.h>
#include <unistd.h>

#include "platform/host/ProcFile.h"
#include "platform/host/ProcRoot.h"

namespace telvo::host {

namespace {

// Finds "name:" at the start of a line of a "Key:   123 kB" file.
bool meminfoField(std::string_view text, std::string_view name, uint64_t& value) {
    std::string_view line;
    while (nextLine(text, line)) {
        if (line.size() <= name.size() || line.compare(0, name.size(), name) != 0 || line[name.size()] != ':')
            continue;
        line.remove_prefix(name.size() + 1);
        return parseUnsigned(line, value);
    }
    return false;
}

// Finds "name value" at the start of a line of /proc/vmstat.
bool vmstatField(std::string_view text, std::string_view name, uint64_t& value) {
    std::string_view line;
    while (nextLine(text, line)) {
        if (line.size() <= name.size() || line.compare(0, name.size(), name) != 0 || line[name.size()] != ' ')
            continue;
        line.remove_prefix(name.size());
        return parseUnsigned(line, value);
    }
    return false;
}

uint64_t pageSizeBytes() {
    long size = ::sysconf(_SC_PAGESIZE);
    return size > 0 ? static_cast<uint64_t>(size) : 4096;
}

}  // namespace

bool MemoryStatisticsReader::read(VMStatistics& vm, SwapUsage& swap) {
    if (!readProcFile("/proc/meminfo", meminfo_) || !readProcFile("/proc/vmstat", vmstat_)) return false;
    uint64_t total = 0, free = 0, active = 0, inactive = 0;
    if (!meminfoField(meminfo_, "MemTotal", total) || !meminfoField(meminfo_, "MemFree", free) ||
        !meminfoField(meminfo_, "Active", active) || !meminfoField(meminfo_, "Inactive", inactive))
        return false;
    uint64_t pgpgin = 0, pgpgout = 0;
    if (!vmstatField(vmstat_, "pgpgin", pgpgin) || !vmstatField(vmstat_, "pgpgout", pgpgout)) return false;
    // Optional fields: absent on kernels without them, and then 0.
    uint64_t zswap = 0, activeFile = 0, inactiveFile = 0, activeAnon = 0, inactiveAnon = 0;
    uint64_t swapTotal = 0, swapFree = 0;
    meminfoField(meminfo_, "Zswap", zswap);
    meminfoField(meminfo_, "Active(file)", activeFile);
    meminfoField(meminfo_, "Inactive(file)", inactiveFile);
    meminfoField(meminfo_, "Active(anon)", activeAnon);
    meminfoField(meminfo_, "Inactive(anon)", inactiveAnon);
    meminfoField(meminfo_, "SwapTotal", swapTotal);
    meminfoField(meminfo_, "SwapFree", swapFree);

    VMStatistics v;
    v.pageSize = pageSizeBytes();
    const uint64_t kibPerPage = v.pageSize / 1024 ? v.pageSize / 1024 : 1;
    auto pages = [&](uint64_t kib) { return kib / kibPerPage; };
    const uint64_t listed = free + active + inactive + zswap;
    v.freePages = pages(free);
    v.activePages = pages(active);
    v.inactivePages = pages(inactive);
    v.wiredPages = pages(total > listed ? total - listed : 0);
    v.compressorPages = pages(zswap);
    v.externalPages = pages(activeFile + inactiveFile);
    v.internalPages = pages(activeAnon + inactiveAnon);
    v.purgeablePages = 0;
    v.pageins = pages(pgpgin);
    v.pageouts = pages(pgpgout);
    vm = v;
    swap.total = swapTotal * 1024;
    swap.used = (swapTotal > swapFree ? swapTotal - swapFree : 0) * 1024;
    return true;
}

bool MemoryStatisticsReader::readMemorySize(uint64_t& bytes) {
    // Online memory blocks: closer to the installed memory than MemTotal, which lacks what
    // the kernel reserved at boot.
    if (readProcFile("/sys/devices/system/memory/block_size_bytes", other_)) {
        uint64_t blockSize = 0;
        std::string_view t(other_);
        skipBlanks(t);
        for (char c : t) {
            int digit = (c >= '0' && c <= '9') ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                                                       : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : -1;
            if (digit < 0) break;
            blockSize = blockSize * 16 + static_cast<uint64_t>(digit);
        }
        const std::string folder = ProcRoot::path("/sys/devices/system/memory");
        DIR* dir = blockSize ? ::opendir(folder.c_str()) : nullptr;
        if (dir) {
            uint64_t online = 0;
            while (struct dirent* entry = ::readdir(dir)) {
                std::string_view name(entry->d_name);
                if (name.size() <= 6 || name.compare(0, 6, "memory") != 0) continue;
                if (readProcFile("/sys/devices/system/memory/" + std::string(name) + "/state", other_) &&
                    other_.compare(0, 6, "online") == 0)
                    ++online;
            }
            ::closedir(dir);
            if (online > 0) {
                bytes = online * blockSize;
                return true;
            }
        }
    }
    uint64_t total = 0;
    if (!readProcFile("/proc/meminfo", other_) || !meminfoField(other_, "MemTotal", total) || total == 0) return false;
    bytes = total * 1024;
    return true;
}

bool MemoryStatisticsReader::readPressure(double& percent) {
    if (!readProcFile("/proc/pressure/memory", other_)) return false;
    std::string_view text(other_);
    std::string_view line;
    while (nextLine(text, line)) {
        if (line.compare(0, 5, "some ") != 0) continue;
        size_t at = line.find("avg10=");
        if (at == std::string_view::npos) return false;
        line.remove_prefix(at + 6);
        return parseDecimal(line, percent);
    }
    return false;
}

}  // namespace telvo::host
