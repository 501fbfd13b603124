#pragma once
// The kernel's one-, five- and fifteen-minute load averages from /proc/loadavg, the
// stand-in for the load-average record.
#include <string>

namespace telvo::host {

struct LoadAverages {
    double one = 0;
    double five = 0;
    double fifteen = 0;
};

class LoadAverageReader {
public:
    // False when the file cannot be read or does not start with three numbers; `out` is
    // then left as it was.
    bool read(LoadAverages& out);

private:
    std::string buffer_;
};

}  // namespace telvo::host
