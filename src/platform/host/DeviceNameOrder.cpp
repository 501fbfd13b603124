// Natural order of device names: digit runs compare by value.
#include "platform/host/DeviceNameOrder.h"

#include <algorithm>
#include <cctype>

namespace telvo::host {

bool deviceNameLess(const std::string& a, const std::string& b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (isdigit((unsigned char)a[i]) && isdigit((unsigned char)b[j])) {
            size_t ie = i, je = j;
            while (ie < a.size() && isdigit((unsigned char)a[ie])) ++ie;
            while (je < b.size() && isdigit((unsigned char)b[je])) ++je;
            unsigned long long na = std::stoull(a.substr(i, std::min<size_t>(ie - i, 18)));
            unsigned long long nb = std::stoull(b.substr(j, std::min<size_t>(je - j, 18)));
            if (na != nb) return na < nb;
            i = ie;
            j = je;
        } else {
            if (a[i] != b[j]) return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

}  // namespace telvo::host
