#include "platform/registry/SysfsRegistry.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

#include "platform/registry/RegistryBuilder.h"

namespace telvo::registry {
namespace {

namespace stdfs = std::filesystem;

std::mutex gRootMutex;
std::string gRoot;

std::string trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

// The trimmed first line of a sysfs attribute; empty when it cannot be read.
std::string readAttribute(const stdfs::path& file) {
    std::ifstream in(file);
    if (!in) return "";
    std::string line;
    std::getline(in, line);
    return trim(line);
}

bool readNumber(const stdfs::path& file, long long& value) {
    std::string text = readAttribute(file);
    if (text.empty()) return false;
    char* end = nullptr;
    value = strtoll(text.c_str(), &end, 10);
    return end && *end == '\0';
}

std::string linkTarget(const stdfs::path& link) {
    std::error_code ec;
    stdfs::path target = stdfs::read_symlink(link, ec);
    return ec ? "" : target.filename().string();
}

// Orders "sda" before "sdb" and "vda2" before "vda10".
bool naturalLess(const std::string& a, const std::string& b) {
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

class Builder {
public:
    explicit Builder(stdfs::path root) : root_(std::move(root)) {}

    std::shared_ptr<Registry> build() {
        std::string product = readAttribute(root_ / "class/dmi/id/product_name");
        platform_ = builder_.add(nullptr, "IOPlatformExpertDevice", product.empty() ? "Linux" : product);
        if (!product.empty()) platform_->setProperty("model", Value(product));
        std::string serial = readAttribute(root_ / "class/dmi/id/product_serial");
        if (!serial.empty()) platform_->setProperty("IOPlatformSerialNumber", Value(serial));
        std::string board = readAttribute(root_ / "class/dmi/id/board_name");
        if (!board.empty()) platform_->setProperty("board-id", Value::data(board));
        devices_["devices"] = platform_;
        addBlockDevices();
        return builder_.registry();
    }

private:
    // The sysfs path relative to the root ("devices/pci0000:00/..."), following links.
    std::string relative(const stdfs::path& p) const {
        std::error_code ec;
        stdfs::path canonical = stdfs::canonical(p, ec);
        if (ec) return "";
        stdfs::path rootCanonical = stdfs::canonical(root_, ec);
        if (ec) return "";
        stdfs::path rel = canonical.lexically_relative(rootCanonical);
        std::string s = rel.string();
        if (s.empty() || s.compare(0, 2, "..") == 0) return "";
        return s;
    }

    // The entry of a device directory, its parents made first.
    std::shared_ptr<Entry> deviceEntry(const std::string& rel) {
        if (rel.empty() || rel == "." ) return platform_;
        if (auto it = devices_.find(rel); it != devices_.end()) return it->second;
        stdfs::path p(rel);
        std::string parentRel = p.parent_path().string();
        std::shared_ptr<Entry> parent = rel.find('/') == std::string::npos ? platform_ : deviceEntry(parentRel);
        std::string subsystem = linkTarget(root_ / rel / "subsystem");
        auto entry = builder_.add(parent, subsystem == "pci" ? "IOPCIDevice" : "IOService", p.filename().string());
        entry->setProperty("Linux Sysfs Path", Value("/sys/" + rel));
        if (!subsystem.empty()) entry->setProperty("Linux Subsystem", Value(subsystem));
        devices_[rel] = entry;
        return entry;
    }

    // Interconnect and location from the subsystems on the way up from the device.
    std::pair<std::string, std::string> interconnect(const std::string& deviceRel, bool removable) {
        std::string kind;
        for (stdfs::path p(deviceRel); !p.empty() && p != "devices"; p = p.parent_path()) {
            std::string sub = linkTarget(root_ / p / "subsystem");
            if (sub == "usb") { kind = "USB"; break; }
            if (sub == "nvme") { kind = "PCI-Express"; break; }
            if (sub == "virtio") { kind = "Virtio"; break; }
            if (sub == "mmc") { kind = "Secure Digital"; break; }
            if (p.filename().string().compare(0, 3, "ata") == 0) { kind = "SATA"; break; }
        }
        if (kind.empty()) kind = deviceRel.compare(0, 15, "devices/virtual") == 0 ? "Virtual Interface" : "SCSI";
        bool external = removable || kind == "USB";
        return {kind, external ? "External" : "Internal"};
    }

    static Value statistics(const stdfs::path& statFile) {
        std::ifstream in(statFile);
        std::vector<long long> f;
        long long v;
        while (in >> v) f.push_back(v);
        if (f.size() < 8) return Value();
        // Sectors are 512 bytes whatever the device's block size; times are in milliseconds.
        return Value(ValueDictionary{
            {"Operations (Read)", Value(f[0])},
            {"Bytes (Read)", Value(f[2] * 512)},
            {"Total Time (Read)", Value(f[3] * 1000000)},
            {"Operations (Write)", Value(f[4])},
            {"Bytes (Write)", Value(f[6] * 512)},
            {"Total Time (Write)", Value(f[7] * 1000000)},
            {"Errors (Read)", Value(0)},
            {"Errors (Write)", Value(0)},
            {"Retries (Read)", Value(0)},
            {"Retries (Write)", Value(0)},
        });
    }

    void setMediaProperties(const std::shared_ptr<Entry>& media, const stdfs::path& dir, const std::string& bsd,
                            bool whole, long long blockSize) {
        long long sectors = 0;
        readNumber(dir / "size", sectors);
        media->setProperty("BSD Name", Value(bsd));
        std::string dev = readAttribute(dir / "dev");
        if (size_t colon = dev.find(':'); colon != std::string::npos) {
            media->setProperty("BSD Major", Value(atoll(dev.substr(0, colon).c_str())));
            media->setProperty("BSD Minor", Value(atoll(dev.substr(colon + 1).c_str())));
        }
        media->setProperty("Size", Value(sectors * 512));
        media->setProperty("Preferred Block Size", Value(blockSize));
        media->setProperty("Whole", Value(whole));
        long long ro = 0;
        readNumber(dir / "ro", ro);
        media->setProperty("Writable", Value(ro == 0));
        media->setLocation(bsd);
    }

    void addBlockDevices() {
        std::error_code ec;
        std::vector<std::string> names;
        for (const auto& d : stdfs::directory_iterator(root_ / "block", ec)) names.push_back(d.path().filename().string());
        std::sort(names.begin(), names.end(), naturalLess);
        for (const std::string& bsd : names) addDisk(bsd);
    }

    void addDisk(const std::string& bsd) {
        const stdfs::path link = root_ / "block" / bsd;
        const std::string diskRel = relative(link);
        if (diskRel.empty()) return;
        const stdfs::path dir = root_ / diskRel;
        long long sectors = 0;
        readNumber(dir / "size", sectors);
        std::error_code ec;
        const bool hasDevice = stdfs::exists(dir / "device", ec);
        // Unused loop and RAM disks have no size; they are no disks anyone looks for.
        if (!hasDevice && sectors == 0) return;

        const std::string deviceRel = hasDevice ? relative(dir / "device") : "devices/virtual";
        std::shared_ptr<Entry> parent = deviceEntry(deviceRel);

        std::string vendor = readAttribute(dir / "device/vendor");
        // virtio and PCI devices give a numeric vendor id ("0x1af4") there, not a name.
        if (vendor.compare(0, 2, "0x") == 0) vendor.clear();
        std::string model = readAttribute(dir / "device/model");
        std::string serial = readAttribute(dir / "serial");
        if (serial.empty()) serial = readAttribute(dir / "device/serial");
        long long rotational = 1, removable = 0, blockSize = 512;
        readNumber(dir / "queue/rotational", rotational);
        readNumber(dir / "removable", removable);
        readNumber(dir / "queue/logical_block_size", blockSize);

        std::string product = trim(vendor.empty() ? model : vendor + " " + model);
        if (product.empty()) product = bsd;

        auto device = builder_.add(parent, "IOBlockStorageDevice", product);
        device->setLocation(bsd);
        ValueDictionary characteristics;
        if (!vendor.empty()) characteristics["Vendor Name"] = Value(vendor);
        characteristics["Product Name"] = Value(model.empty() ? bsd : model);
        if (!serial.empty()) characteristics["Serial Number"] = Value(serial);
        characteristics["Medium Type"] = Value(rotational ? "Rotational" : "Solid State");
        device->setProperty("Device Characteristics", Value(std::move(characteristics)));
        auto [kind, location] = interconnect(deviceRel, removable != 0);
        device->setProperty("Protocol Characteristics",
                            Value(ValueDictionary{{"Physical Interconnect", Value(kind)},
                                                  {"Physical Interconnect Location", Value(location)}}));

        auto driver = builder_.add(device, "IOBlockStorageDriver", "IOBlockStorageDriver");
        driver->setLocation(bsd);
        const stdfs::path statFile = dir / "stat";
        driver->setLiveProperty("Statistics", [statFile] { return statistics(statFile); });

        auto whole = builder_.add(driver, "IOMedia", product + " Media");
        setMediaProperties(whole, dir, bsd, true, blockSize);
        whole->setProperty("Removable", Value(removable != 0));
        whole->setProperty("Ejectable", Value(removable != 0));

        std::vector<std::pair<long long, std::string>> partitions;
        for (const auto& d : stdfs::directory_iterator(dir, ec)) {
            long long number = 0;
            if (d.is_directory() && readNumber(d.path() / "partition", number))
                partitions.emplace_back(number, d.path().filename().string());
        }
        std::sort(partitions.begin(), partitions.end());
        whole->setProperty("Leaf", Value(partitions.empty()));
        for (const auto& [number, name] : partitions) {
            auto part = builder_.add(whole, "IOMedia", name);
            setMediaProperties(part, dir / name, name, false, blockSize);
            part->setProperty("Partition ID", Value(number));
            part->setProperty("Leaf", Value(true));
        }
    }

    stdfs::path root_;
    RegistryBuilder builder_;
    std::shared_ptr<Entry> platform_;
    std::map<std::string, std::shared_ptr<Entry>> devices_;
};

}  // namespace

std::string sysfsRoot() {
    std::lock_guard<std::mutex> lock(gRootMutex);
    return gRoot.empty() ? "/sys" : gRoot;
}

void setSysfsRootForTesting(const std::string& folder) {
    std::lock_guard<std::mutex> lock(gRootMutex);
    gRoot = folder;
}

std::shared_ptr<Registry> buildFromSysfs(const std::string& sysRoot) {
    return Builder(sysRoot).build();
}

}  // namespace telvo::registry
