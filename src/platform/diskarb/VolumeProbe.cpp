#include "platform/diskarb/VolumeProbe.h"

#include <blkid/blkid.h>

#include <cctype>
#include <cstdio>
#include <fstream>

#include "platform/host/ProcRoot.h"

namespace telvo::diskarb {
namespace {

std::string lookup(blkid_probe probe, const char* name) {
    const char* data = nullptr;
    size_t length = 0;
    if (blkid_probe_lookup_value(probe, name, &data, &length) != 0 || !data) return "";
    std::string value(data, length);
    while (!value.empty() && value.back() == '\0') value.pop_back();
    return value;
}

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

bool probeVolume(const std::string& deviceNode, VolumeFacts& facts) {
    blkid_probe probe = blkid_new_probe_from_filename(deviceNode.c_str());
    if (!probe) return false;
    blkid_probe_enable_superblocks(probe, 1);
    blkid_probe_set_superblocks_flags(probe, BLKID_SUBLKS_LABEL | BLKID_SUBLKS_UUID | BLKID_SUBLKS_TYPE);
    blkid_probe_enable_partitions(probe, 0);
    const bool found = blkid_do_safeprobe(probe) == 0;
    if (found) {
        facts.type = lookup(probe, "TYPE");
        facts.uuid = lookup(probe, "UUID");
        facts.label = lookup(probe, "LABEL");
        facts.subUUID = lookup(probe, "UUID_SUB");
    }
    blkid_free_probe(probe);
    return found && !facts.type.empty();
}

std::map<int, PartitionFacts> probePartitions(const std::string& deviceNode) {
    std::map<int, PartitionFacts> entries;
    blkid_probe probe = blkid_new_probe_from_filename(deviceNode.c_str());
    if (!probe) return entries;
    blkid_probe_enable_partitions(probe, 1);
    blkid_probe_set_partitions_flags(probe, BLKID_PARTS_ENTRY_DETAILS);
    if (blkid_partlist list = blkid_probe_get_partitions(probe)) {
        const int count = blkid_partlist_numof_partitions(list);
        for (int i = 0; i < count; ++i) {
            blkid_partition part = blkid_partlist_get_partition(list, i);
            if (!part) continue;
            PartitionFacts facts;
            if (const char* uuid = blkid_partition_get_uuid(part)) facts.uuid = lower(uuid);
            if (const char* type = blkid_partition_get_type_string(part)) {
                facts.type = lower(type);
            } else {
                char text[16];
                snprintf(text, sizeof text, "0x%x", blkid_partition_get_type(part));
                facts.type = text;
            }
            if (const char* name = blkid_partition_get_name(part)) facts.name = name;
            entries[blkid_partition_get_partno(part)] = facts;
        }
    }
    blkid_free_probe(probe);
    return entries;
}

std::map<std::string, std::string> udevProperties(int major, int minor) {
    std::map<std::string, std::string> properties;
    std::ifstream in(host::ProcRoot::path("/run/udev/data/b" + std::to_string(major) + ":" + std::to_string(minor)));
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, 2, "E:") != 0) continue;
        const size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        properties[line.substr(2, equals - 2)] = line.substr(equals + 1);
    }
    return properties;
}

}  // namespace telvo::diskarb
