#include "platform/diskarb/DiskScanner.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/diskarb/DiskDescription.h"
#include "platform/diskarb/VolumeProbe.h"
#include "platform/host/DeviceNameOrder.h"
#include "platform/host/ProcRoot.h"
#include "platform/host/SysfsAttribute.h"
#include "platform/registry/Registry.h"
#include "platform/registry/SysfsRegistry.h"

namespace telvo::diskarb {
namespace {

namespace stdfs = std::filesystem;

const char* const kEfiGuid = "c12a7328-f81f-11d2-ba4b-00a0c93ec93b";

using host::readSysfsAttribute;

long long readNumber(const stdfs::path& file) {
    std::string text = readSysfsAttribute(file);
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return -1;
    return std::stoll(text.substr(0, 18));
}

bool startsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// File systems that hold no files of their own for anyone to look at.
bool isMemberType(const std::string& type) {
    return type == "swap" || type == "crypto_LUKS" || type.find("_member") != std::string::npos;
}

std::string lastComponent(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string devKey(int major, int minor) { return std::to_string(major) + ":" + std::to_string(minor); }

struct Scan {
    std::map<std::string, MountEntry> mountsByDevice;
    std::vector<MountEntry> volumeMounts;  // network and ZFS
    std::shared_ptr<registry::Registry> reg = registry::Registry::shared();
    stdfs::path sysRoot = registry::sysfsRoot();
    bool real = false;

    registry::EntryRef media(const std::string& bsd) const {
        auto found = reg->matchingServices(registry::Registry::bsdNameMatching(bsd));
        for (const auto& e : found)
            if (e->className() == "IOMedia") return e;
        return nullptr;
    }

    Value describe(const std::string& bsd, const stdfs::path& dir, const std::string& wholeBsd, long long partition,
                   const Value* wholeDescription) {
        Value d{ValueDictionary{}};
        d.set(key::kMediaBSDName, Value(bsd));
        d.set(key::kMediaWhole, Value(wholeBsd.empty()));
        if (!wholeBsd.empty()) d.set(key::kWholeDiskBSDName, Value(wholeBsd));
        int major = 0, minor = 0;
        const std::string dev = readSysfsAttribute(dir / "dev");
        if (size_t colon = dev.find(':'); colon != std::string::npos) {
            major = atoi(dev.substr(0, colon).c_str());
            minor = atoi(dev.substr(colon + 1).c_str());
            d.set(key::kMediaBSDMajor, Value(major));
            d.set(key::kMediaBSDMinor, Value(minor));
        }
        const long long sectors = std::max(0LL, readNumber(dir / "size"));
        d.set(key::kMediaSize, Value(sectors * 512));

        registry::EntryRef entry = media(bsd);
        std::string mediaName = entry ? entry->name() : "";
        std::string content = entry ? entry->property("Content").stringValue() : "";
        if (entry && entry->hasProperty("BSD Unit")) d.set(key::kMediaBSDUnit, entry->property("BSD Unit"));
        if (partition > 0) d.set(key::kMediaPartitionID, Value(partition));

        if (wholeDescription) {
            for (const char* k : {key::kDeviceProtocol, key::kDeviceModel, key::kDeviceVendor, key::kMediaEjectable})
                if (wholeDescription->has(k)) d.set(k, (*wholeDescription)[k]);
            if (wholeDescription->has(key::kMediaBSDUnit) && !d.has(key::kMediaBSDUnit))
                d.set(key::kMediaBSDUnit, (*wholeDescription)[key::kMediaBSDUnit]);
        } else {
            registry::EntryRef device = entry && entry->parent() ? entry->parent()->parent() : nullptr;
            if (device && device->className() == "IOBlockStorageDevice") {
                Value chars = device->property("Device Characteristics");
                Value protocol = device->property("Protocol Characteristics");
                if (protocol.has("Physical Interconnect"))
                    d.set(key::kDeviceProtocol, protocol["Physical Interconnect"]);
                if (chars.has("Product Name")) d.set(key::kDeviceModel, chars["Product Name"]);
                if (chars.has("Vendor Name")) d.set(key::kDeviceVendor, chars["Vendor Name"]);
            }
            if (startsWith(bsd, "loop")) d.set(key::kDeviceProtocol, Value("Virtual Interface"));
            const bool removable = readNumber(dir / "removable") > 0;
            d.set(key::kMediaEjectable, Value(removable || startsWith(bsd, "loop")));
            if (!entry && startsWith(bsd, "dm-")) {
                std::string name = readSysfsAttribute(dir / "dm/name");
                mediaName = name.empty() ? bsd : name;
            }
        }
        if (!d.has(key::kMediaBSDUnit)) d.set(key::kMediaBSDUnit, Value(minor));

        // The volume: probed from the node, else what udev wrote down.
        VolumeFacts facts;
        bool probed = false;
        if (sectors > 0 && real) probed = probeVolume("/dev/" + bsd, facts);
        std::map<std::string, std::string> udev;
        if (!probed || content.empty()) udev = udevProperties(major, minor);
        if (!probed) {
            facts.type = udev["ID_FS_TYPE"];
            facts.uuid = udev["ID_FS_UUID"];
            facts.label = udev["ID_FS_LABEL"];
        }
        if (content.empty()) content = udev["ID_PART_ENTRY_TYPE"];
        std::transform(content.begin(), content.end(), content.begin(), [](unsigned char c) { return tolower(c); });
        if (!content.empty()) d.set(key::kMediaContent, Value(content));

        const bool optical = startsWith(bsd, "sr") || facts.type == "iso9660" || facts.type == "udf";
        d.set(key::kMediaKind, Value(optical ? "IOCDMedia" : "IOMedia"));
        if (content == kEfiGuid || content == "0xef") mediaName = "EFI System Partition";
        if (mediaName.empty()) mediaName = bsd;
        d.set(key::kMediaName, Value(mediaName));

        auto mount = mountsByDevice.find(devKey(major, minor));
        const bool mounted = major != 0 && mount != mountsByDevice.end();
        if (mounted) {
            d.set(key::kVolumePath, Value(mount->second.mountPoint));
            if (facts.type.empty()) facts.type = mount->second.fsType;
        }
        if (!facts.type.empty()) d.set(key::kVolumeKind, Value(facts.type));
        if (!facts.uuid.empty()) d.set(key::kVolumeUUID, Value(facts.uuid));
        d.set(key::kVolumeMountable, Value(mounted || (!facts.type.empty() && !isMemberType(facts.type))));
        std::string name = facts.label;
        if (name.empty() && mounted) name = lastComponent(mount->second.mountPoint);
        if ((name.empty() || name == "/") && (mounted || !facts.type.empty())) name = bsd;
        if (!name.empty()) d.set(key::kVolumeName, Value(name));
        d.set(key::kVolumeNetwork, Value(false));
        return d;
    }
};

}  // namespace

bool isNetworkFileSystem(const std::string& t) {
    return t == "nfs" || t == "nfs4" || t == "cifs" || t == "smb3" || t == "fuse.sshfs" || t == "davfs";
}

std::string fileURLText(const std::string& path) {
    static const char* hex = "0123456789ABCDEF";
    std::string url = "file://";
    for (unsigned char c : path) {
        if (isalnum(c) || c == '/' || c == '-' || c == '.' || c == '_' || c == '~') {
            url += static_cast<char>(c);
        } else {
            url += '%';
            url += hex[c >> 4];
            url += hex[c & 15];
        }
    }
    if (url.back() != '/') url += '/';
    return url;
}

std::vector<MountEntry> chooseMounts(const std::vector<MountEntry>& entries) {
    std::map<std::string, MountEntry> chosen;
    auto better = [](const MountEntry& a, const MountEntry& b) {  // a wins over b
        if ((a.mountPoint == "/") != (b.mountPoint == "/")) return a.mountPoint == "/";
        if ((a.root == "/") != (b.root == "/")) return a.root == "/";
        return a.mountID < b.mountID;
    };
    for (const MountEntry& e : entries) {
        std::string group;
        if (e.fsType == "autofs") continue;
        if (isNetworkFileSystem(e.fsType) || e.fsType == "zfs") {
            group = "v:" + e.mountPoint;
        } else if (e.major != 0) {
            group = "b:" + devKey(e.major, e.minor);
        } else {
            continue;  // proc, sysfs, tmpfs, overlay and the other file systems without a device
        }
        auto it = chosen.find(group);
        if (it == chosen.end() || better(e, it->second)) chosen[group] = e;
    }
    std::vector<MountEntry> out;
    for (auto& [group, e] : chosen) out.push_back(e);
    std::sort(out.begin(), out.end(), [](const MountEntry& a, const MountEntry& b) { return a.mountID < b.mountID; });
    return out;
}

std::vector<Value> scanDisks() {
    Scan scan;
    std::error_code ec;
    scan.real = stdfs::equivalent(scan.sysRoot, "/sys", ec);
    {
        std::ifstream in(host::ProcRoot::path("/proc/self/mountinfo"));
        std::stringstream text;
        text << in.rdbuf();
        std::vector<MountEntry> entries = parseMountInfo(text.str());
        // File systems such as btrfs report an anonymous device number; their source names
        // the block device.
        for (MountEntry& e : entries) {
            struct stat st {};
            if (e.major == 0 && e.source.rfind("/dev/", 0) == 0 &&
                stat(host::ProcRoot::path(e.source).c_str(), &st) == 0 && S_ISBLK(st.st_mode)) {
                e.major = static_cast<int>(::major(st.st_rdev));
                e.minor = static_cast<int>(::minor(st.st_rdev));
            }
        }
        for (const MountEntry& m : chooseMounts(entries)) {
            if (isNetworkFileSystem(m.fsType) || m.fsType == "zfs")
                scan.volumeMounts.push_back(m);
            else
                scan.mountsByDevice[devKey(m.major, m.minor)] = m;
        }
    }

    std::vector<std::string> names;
    for (const auto& d : stdfs::directory_iterator(scan.sysRoot / "block", ec)) names.push_back(d.path().filename().string());
    std::sort(names.begin(), names.end(), host::deviceNameLess);

    std::vector<Value> out;
    for (const std::string& bsd : names) {
        if (startsWith(bsd, "ram") || startsWith(bsd, "zram")) continue;
        const stdfs::path dir = stdfs::canonical(scan.sysRoot / "block" / bsd, ec);
        if (ec) continue;
        if (startsWith(bsd, "loop") && readNumber(dir / "size") <= 0 && !stdfs::exists(dir / "loop/backing_file", ec))
            continue;
        Value whole = scan.describe(bsd, dir, "", 0, nullptr);
        out.push_back(whole);
        std::vector<std::pair<long long, std::string>> partitions;
        for (const auto& d : stdfs::directory_iterator(dir, ec)) {
            const long long number = readNumber(d.path() / "partition");
            if (number > 0) partitions.emplace_back(number, d.path().filename().string());
        }
        std::sort(partitions.begin(), partitions.end());
        for (const auto& [number, name] : partitions) out.push_back(scan.describe(name, dir / name, bsd, number, &whole));
    }

    for (const MountEntry& m : scan.volumeMounts) {
        Value d{ValueDictionary{}};
        const bool network = m.fsType != "zfs";
        d.set(key::kVolumeNetwork, Value(network));
        d.set(key::kVolumeKind, Value(m.fsType));
        d.set(key::kVolumePath, Value(m.mountPoint));
        d.set(key::kVolumeMountable, Value(true));
        d.set(key::kMediaWhole, Value(false));
        std::string name = network ? lastComponent(m.source) : m.source;
        if (network && (name.empty() || name.back() == ':')) name = m.source;
        d.set(key::kVolumeName, Value(name));
        d.set(key::kMediaEjectable, Value(network));
        out.push_back(d);
    }
    return out;
}

}  // namespace telvo::diskarb
