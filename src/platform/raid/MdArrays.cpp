#include "platform/raid/MdArrays.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "platform/raid/MdStatus.h"

namespace telvo::raid {
namespace {

namespace stdfs = std::filesystem;

std::string readLine(const stdfs::path& file) {
    std::ifstream in(file);
    std::string line;
    if (!in || !std::getline(in, line)) return "";
    while (!line.empty() && (line.back() == '\n' || line.back() == ' ' || line.back() == '\r')) line.pop_back();
    return line;
}

long slotNumber(const MdMember& m) {
    if (m.slot.empty() || m.slot.find_first_not_of("0123456789") != std::string::npos) return 1L << 30;
    return std::stol(m.slot.substr(0, 9));
}

}  // namespace

std::string setStatusNow(const std::string& sysRoot, const std::string& bsd) {
    const stdfs::path md = stdfs::path(sysRoot) / "block" / bsd / "md";
    return setStatus(readLine(md / "array_state"), readLine(md / "degraded"), readLine(md / "sync_action"));
}

std::string memberStatusNow(const std::string& sysRoot, const std::string& bsd, const std::string& memberName) {
    const stdfs::path dir = stdfs::path(sysRoot) / "block" / bsd / "md" / memberName;
    std::error_code ec;
    if (!stdfs::is_directory(dir, ec)) return "";
    return memberStatus(readLine(dir / "state"), readLine(dir / "slot"), readLine(dir / "recovery_start"));
}

bool readMdArray(const std::string& sysRoot, const std::string& bsd, MdArray& a) {
    const stdfs::path dir = stdfs::path(sysRoot) / "block" / bsd;
    std::error_code ec;
    if (!stdfs::is_directory(dir / "md", ec)) return false;
    a = MdArray{};
    a.bsd = bsd;
    a.dev = readLine(dir / "dev");
    a.level = readLine(dir / "md/level");
    a.arrayState = readLine(dir / "md/array_state");
    a.degraded = readLine(dir / "md/degraded");
    a.syncAction = readLine(dir / "md/sync_action");
    a.raidDisks = readLine(dir / "md/raid_disks");
    a.uuid = readLine(dir / "md/uuid");
    a.status = setStatus(a.arrayState, a.degraded, a.syncAction);
    for (const auto& d : stdfs::directory_iterator(dir / "md", ec)) {
        const std::string name = d.path().filename().string();
        if (name.compare(0, 4, "dev-") != 0) continue;
        MdMember m;
        m.name = name;
        stdfs::path target = stdfs::read_symlink(d.path() / "block", ec);
        m.bsd = ec ? name.substr(4) : target.filename().string();
        ec.clear();
        m.state = readLine(d.path() / "state");
        m.slot = readLine(d.path() / "slot");
        m.recoveryStart = readLine(d.path() / "recovery_start");
        m.status = memberStatus(m.state, m.slot, m.recoveryStart);
        a.members.push_back(std::move(m));
    }
    std::stable_sort(a.members.begin(), a.members.end(), [](const MdMember& x, const MdMember& y) {
        const long sx = slotNumber(x), sy = slotNumber(y);
        return sx != sy ? sx < sy : x.name < y.name;
    });
    return true;
}

std::vector<MdArray> readMdArrays(const std::string& sysRoot) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& d : stdfs::directory_iterator(stdfs::path(sysRoot) / "block", ec)) {
        const std::string name = d.path().filename().string();
        if (name.compare(0, 2, "md") == 0) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    std::vector<MdArray> out;
    for (const std::string& name : names) {
        MdArray a;
        if (readMdArray(sysRoot, name, a)) out.push_back(std::move(a));
    }
    return out;
}

}  // namespace telvo::raid
