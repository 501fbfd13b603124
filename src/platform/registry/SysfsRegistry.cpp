#include "platform/registry/SysfsRegistry.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>

#include "platform/diskarb/VolumeProbe.h"
#include "platform/host/DeviceNameOrder.h"
#include "platform/host/ProcRoot.h"
#include "platform/host/SysfsAttribute.h"
#include "platform/raid/MdArrays.h"
#include "platform/registry/RegistryBuilder.h"
#include "platform/smart/SmartDevice.h"

namespace telvo::registry {
namespace {

namespace stdfs = std::filesystem;

std::mutex gRootMutex;
std::string gRoot;

using host::readSysfsAttribute;
using host::trimmedText;

bool readNumber(const stdfs::path& file, long long& value) {
    std::string text = readSysfsAttribute(file);
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

class Builder {
public:
    explicit Builder(stdfs::path root) : root_(std::move(root)) {}

    std::shared_ptr<Registry> build() {
        std::string product = readSysfsAttribute(root_ / "class/dmi/id/product_name");
        platform_ = builder_.add(nullptr, "IOPlatformExpertDevice", product.empty() ? "Linux" : product);
        if (!product.empty()) platform_->setProperty("model", Value(product));
        std::string serial = readSysfsAttribute(root_ / "class/dmi/id/product_serial");
        if (!serial.empty()) platform_->setProperty("IOPlatformSerialNumber", Value(serial));
        std::string board = readSysfsAttribute(root_ / "class/dmi/id/board_name");
        if (!board.empty()) platform_->setProperty("board-id", Value::data(board));
        devices_["devices"] = platform_;
        readMountedDevices();
        addBlockDevices();
        addRaidSets();
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
        if (subsystem == "usb") {
            std::string serial = readSysfsAttribute(root_ / rel / "serial");
            if (!serial.empty()) entry->setProperty("USB Serial Number", Value(serial));
        }
        if (subsystem == "scsi") {
            std::string serial = vpdSerial(root_ / rel / "vpd_pg80");
            if (!serial.empty()) entry->setProperty("INQUIRY Unit Serial Number", Value(serial));
        }
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

    // The unit serial number page of a SCSI device: a 4-byte header, then the serial.
    static std::string vpdSerial(const stdfs::path& file) {
        std::ifstream in(file, std::ios::binary);
        std::string page((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (page.size() <= 4 || static_cast<unsigned char>(page[1]) != 0x80) return "";
        const size_t length = std::min<size_t>(page.size() - 4, (static_cast<unsigned char>(page[2]) << 8) |
                                                                     static_cast<unsigned char>(page[3]));
        std::string serial;
        for (char c : page.substr(4, length))
            if (c >= 0x20 && c < 0x7f) serial += c;
        return trimmedText(serial);
    }

    // "KEY=value" lines of a sysfs uevent file.
    static std::map<std::string, std::string> ueventKeys(const stdfs::path& file) {
        std::map<std::string, std::string> keys;
        std::ifstream in(file);
        std::string line;
        while (std::getline(in, line)) {
            if (size_t eq = line.find('='); eq != std::string::npos) keys[line.substr(0, eq)] = line.substr(eq + 1);
        }
        return keys;
    }

    // The logical unit of a SCSI device, the last number of its "host:channel:target:lun" name.
    static bool scsiLun(const std::string& deviceRel, long long& lun) {
        const std::string name = stdfs::path(deviceRel).filename().string();
        if (std::count(name.begin(), name.end(), ':') != 3) return false;
        const std::string last = name.substr(name.rfind(':') + 1);
        if (last.empty() || last.find_first_not_of("0123456789") != std::string::npos) return false;
        lun = atoll(last.c_str());
        return true;
    }

    // Devices the daemon uses; mounted or stacked under another device.
    void readMountedDevices() {
        std::ifstream in(host::ProcRoot::path("/proc/self/mountinfo"));
        std::string line;
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::string id, parent, dev;
            if (fields >> id >> parent >> dev) mounted_.insert(dev);
        }
    }

    bool isOpen(const stdfs::path& dir) const {
        std::error_code ec;
        if (mounted_.count(readSysfsAttribute(dir / "dev"))) return true;
        for (const auto& d : stdfs::directory_iterator(dir / "holders", ec)) {
            (void)d;
            return true;
        }
        return false;
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
        std::string dev = readSysfsAttribute(dir / "dev");
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
        media->setProperty("Open", Value(isOpen(dir)));
        media->setLocation(bsd);
        media_[bsd] = media;
    }

    // Software-RAID sets in the shape of the RAID driver's objects: below each member's medium a
    // member object ("AppleRAIDMember": the member's and the set's UUIDs and live status), below
    // it a set object ("AppleRAIDSet": set UUID, name, level and live status); the set's own
    // medium is the first child of the set object under the first member. A set built on other
    // sets is added after them.
    void addRaidSets() {
        std::vector<raid::MdArray> pending = raid::readMdArrays(root_.string());
        for (bool progress = true; progress && !pending.empty();) {
            progress = false;
            for (auto it = pending.begin(); it != pending.end();) {
                const bool waits = std::any_of(it->members.begin(), it->members.end(), [&](const raid::MdMember& m) {
                    return std::any_of(pending.begin(), pending.end(),
                                       [&](const raid::MdArray& a) { return a.bsd == m.bsd; });
                });
                if (waits) {
                    ++it;
                    continue;
                }
                addRaidSet(*it);
                it = pending.erase(it);
                progress = true;
            }
        }
    }

    std::map<std::string, std::string> udevOf(const std::string& dev) {
        const size_t colon = dev.find(':');
        if (colon == std::string::npos) return {};
        return diskarb::udevProperties(atoi(dev.substr(0, colon).c_str()), atoi(dev.substr(colon + 1).c_str()));
    }

    void addRaidSet(const raid::MdArray& a) {
        auto udev = udevOf(a.dev);
        std::string setUUID = a.uuid.empty() ? udev["MD_UUID"] : a.uuid;
        if (setUUID.empty()) setUUID = a.bsd;
        const std::string name = udev["MD_NAME"];
        const std::string sys = root_.string();
        const std::string md = a.bsd;
        bool first = true;
        for (const raid::MdMember& m : a.members) {
            auto media = media_.find(m.bsd);
            if (media == media_.end()) continue;
            // The member's own UUID: udev's record, else the superblock; metadata 0.90 has none,
            // so a key of the set's UUID and the member's name stands in.
            const Value major = media->second->property("BSD Major"), minor = media->second->property("BSD Minor");
            std::string memberUUID =
                diskarb::udevProperties(int(major.intValue()), int(minor.intValue()))["ID_FS_UUID_SUB"];
            if (memberUUID.empty() && realSysfs()) {
                diskarb::VolumeFacts facts;
                diskarb::probeVolume("/dev/" + m.bsd, facts);
                memberUUID = facts.subUUID;
            }
            if (memberUUID.empty()) memberUUID = setUUID + "/" + m.name;
            auto member = builder_.add(media->second, "AppleRAIDMember", m.bsd,
                                       {{"CFBundleIdentifier", Value("com.apple.driver.AppleRAID")},
                                        {"AppleRAID-MemberUUID", Value(memberUUID)},
                                        {"AppleRAID-SetUUID", Value(setUUID)}});
            const std::string memberName = m.name;
            member->setLiveProperty("AppleRAID-MemberStatus", [sys, md, memberName] {
                std::string status = raid::memberStatusNow(sys, md, memberName);
                return status.empty() ? Value() : Value(status);
            });
            ValueDictionary setProperties{{"AppleRAID-SetUUID", Value(setUUID)},
                                          {"AppleRAID-LevelName", Value(a.level)}};
            if (!name.empty()) setProperties["AppleRAID-SetName"] = Value(name);
            auto set = builder_.add(member, "AppleRAIDSet", name.empty() ? md : name, std::move(setProperties));
            set->setLiveProperty("AppleRAID-SetStatus", [sys, md] { return Value(raid::setStatusNow(sys, md)); });
            if (first) {
                long long blockSize = 512;
                readNumber(root_ / "block" / md / "queue/logical_block_size", blockSize);
                auto whole = builder_.add(set, "IOMedia", (name.empty() ? md : name) + " Media");
                setMediaProperties(whole, root_ / "block" / md, md, true, blockSize);
                whole->setProperty("Leaf", Value(true));
                whole->setProperty("Removable", Value(false));
                first = false;
            }
        }
    }

    void addBlockDevices() {
        std::error_code ec;
        std::vector<std::string> names;
        for (const auto& d : stdfs::directory_iterator(root_ / "block", ec)) names.push_back(d.path().filename().string());
        std::sort(names.begin(), names.end(), host::deviceNameLess);
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
        if (!hasDevice) {
            // Of the virtual block devices only attached loop devices stand for disks (images);
            // RAM disks are memory, and mapper and software-RAID devices are volumes on other
            // disks, without a device or driver of their own.
            if (bsd.compare(0, 4, "loop") != 0) return;
            if (sectors == 0 && !stdfs::exists(dir / "loop/backing_file", ec)) return;
        }

        const std::string deviceRel = hasDevice ? relative(dir / "device") : "devices/virtual";
        std::shared_ptr<Entry> parent = deviceEntry(deviceRel);

        std::string vendor = readSysfsAttribute(dir / "device/vendor");
        // virtio and PCI devices give a numeric vendor id ("0x1af4") there, not a name.
        if (vendor.compare(0, 2, "0x") == 0) vendor.clear();
        std::string model = readSysfsAttribute(dir / "device/model");
        std::string serial = readSysfsAttribute(dir / "serial");
        if (serial.empty()) serial = readSysfsAttribute(dir / "device/serial");
        if (serial.empty()) serial = readSysfsAttribute(dir / "device/wwid");
        long long rotational = 1, removable = 0, blockSize = 512;
        readNumber(dir / "queue/rotational", rotational);
        readNumber(dir / "removable", removable);
        readNumber(dir / "queue/logical_block_size", blockSize);

        std::string product = trimmedText(vendor.empty() ? model : vendor + " " + model);
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
        ValueDictionary protocol{{"Physical Interconnect", Value(kind)},
                                 {"Physical Interconnect Location", Value(location)}};
        if (long long lun = 0; hasDevice && scsiLun(deviceRel, lun)) protocol["SCSI Logical Unit Number"] = Value(lun);
        device->setProperty("Protocol Characteristics", Value(std::move(protocol)));
        // SMART: IDENTIFY word 82 bit 0 of SATA and SAT-bridged disks; NVMe drives always.
        if ((bsd.compare(0, 2, "sd") == 0 || bsd.compare(0, 4, "nvme") == 0) &&
            (realSysfs() ? smartCapable(bsd, readSysfsAttribute(dir / "dev") + "/" + serial)
                         : smart::openerInstalledForTesting() && smart::smartCapable(bsd)))
            device->setProperty("SMART Capable", Value(true));

        auto driver = builder_.add(device, "IOBlockStorageDriver", "IOBlockStorageDriver");
        driver->setLocation(bsd);
        const stdfs::path statFile = dir / "stat";
        driver->setLiveProperty("Statistics", [statFile] { return statistics(statFile); });

        auto whole = builder_.add(driver, "IOMedia", product + " Media");
        setMediaProperties(whole, dir, bsd, true, blockSize);
        whole->setProperty("Removable", Value(removable != 0));
        whole->setProperty("Ejectable", Value(removable != 0));
        whole->setProperty("BSD Unit", whole->property("BSD Minor"));

        std::vector<std::pair<long long, std::string>> partitions;
        for (const auto& d : stdfs::directory_iterator(dir, ec)) {
            long long number = 0;
            if (d.is_directory() && readNumber(d.path() / "partition", number))
                partitions.emplace_back(number, d.path().filename().string());
        }
        std::sort(partitions.begin(), partitions.end());
        whole->setProperty("Leaf", Value(partitions.empty()));
        if (partitions.empty()) return;

        // The partition table's entries: the kernel's uevent when it names them, udev's record,
        // else the table itself read from the disk's node.
        std::map<int, diskarb::PartitionFacts> table;
        if (realSysfs()) table = diskarb::probePartitions("/dev/" + bsd);
        auto scheme = builder_.add(whole, "IOPartitionScheme", "Partition Scheme");
        scheme->setLocation("1");
        std::string schemeContent;
        for (const auto& [number, name] : partitions) {
            auto part = builder_.add(scheme, "IOMedia", name);
            setMediaProperties(part, dir / name, name, false, blockSize);
            part->setProperty("Partition ID", Value(number));
            part->setProperty("Leaf", Value(true));
            part->setProperty("BSD Unit", whole->property("BSD Minor"));
            diskarb::PartitionFacts facts = table.count(int(number)) ? table[int(number)] : diskarb::PartitionFacts{};
            auto uevent = ueventKeys(dir / name / "uevent");
            if (facts.uuid.empty()) facts.uuid = uevent["PARTUUID"];
            if (facts.name.empty()) facts.name = uevent["PARTNAME"];
            const Value major = part->property("BSD Major"), minor = part->property("BSD Minor");
            if (facts.uuid.empty() || facts.type.empty()) {
                auto udev = diskarb::udevProperties(int(major.intValue()), int(minor.intValue()));
                if (facts.uuid.empty()) facts.uuid = udev["ID_PART_ENTRY_UUID"];
                if (facts.type.empty()) facts.type = udev["ID_PART_ENTRY_TYPE"];
                if (facts.name.empty()) facts.name = udev["ID_PART_ENTRY_NAME"];
                if (schemeContent.empty()) schemeContent = udev["ID_PART_ENTRY_SCHEME"];
            }
            if (!facts.uuid.empty()) part->setProperty("UUID", Value(facts.uuid));
            if (!facts.type.empty()) part->setProperty("Content", Value(facts.type));
            if (!facts.name.empty()) part->setProperty("Partition Name", Value(facts.name));
        }
        if (!schemeContent.empty()) scheme->setProperty("Content Table", Value(schemeContent));
    }

    // The drive is asked once per device number and serial: rebuilds after device events do
    // not send it IDENTIFY again.
    static bool smartCapable(const std::string& bsd, const std::string& identity) {
        static std::mutex mutex;
        static std::map<std::string, bool> known;
        const std::string key = bsd + "/" + identity;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (auto it = known.find(key); it != known.end()) return it->second;
        }
        const bool capable = smart::smartCapable(bsd);
        std::lock_guard<std::mutex> lock(mutex);
        known[key] = capable;
        return capable;
    }

    bool realSysfs() const {
        std::error_code ec;
        return stdfs::equivalent(root_, "/sys", ec);
    }

    stdfs::path root_;
    RegistryBuilder builder_;
    std::shared_ptr<Entry> platform_;
    std::map<std::string, std::shared_ptr<Entry>> devices_;
    std::map<std::string, std::shared_ptr<Entry>> media_;  // by BSD name
    std::set<std::string> mounted_;
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
