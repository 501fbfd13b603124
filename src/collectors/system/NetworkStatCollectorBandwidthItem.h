#pragma once
// NetworkStatCollectorBandwidthItem: the open ten-minute bandwidth bucket of one interface
// (a plain record, not a collector item). A bucket counts in stretches: a stretch ends when a
// counter goes backwards, and the bytes of ended stretches are kept in the running totals.
#include <cstdint>
#include <string>

namespace telvo {

struct NetworkStatCollectorBandwidthItem {
    std::string key;                   // BSD interface name
    int64_t interfaceIdentifier = -1;  // identifier in "bandwidth_interface_map"; -1 not known yet
    double start = 0;                  // start of the open bucket
    double end = 0;                    // planned end of the open bucket
    double uploadStart = 0, downloadStart = 0;
    double uploadLast = 0, downloadLast = 0;
    double uploadRunningTotal = 0, downloadRunningTotal = 0;
    double lastUpdate = 0;
    double lastReadElapsed = 0;        // never-stepping clock at the latest reading
};

}  // namespace telvo
