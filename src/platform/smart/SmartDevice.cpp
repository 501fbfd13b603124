// The Linux backend of the SMART commands: ATA PASS-THROUGH(16) through SG_IO for SATA and
// SAT-bridged disks, the health log page through the NVMe admin ioctl.
#include "platform/smart/SmartDevice.h"

#include <fcntl.h>
#include <linux/nvme_ioctl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "platform/fs/Root.h"
#include "platform/smart/SmartData.h"

namespace telvo::smart {
namespace {

std::mutex gOpenerMutex;
Opener gOpener;

constexpr uint8_t kSmartCommand = 0xb0, kIdentifyCommand = 0xec;
constexpr uint8_t kReadData = 0xd0, kReadThresholds = 0xd1, kEnable = 0xd8, kDisable = 0xd9, kReturnStatus = 0xda;

ErrorPtr osError(const std::string& what) {
    return makeError("SMART", errno ? errno : 5, what + ": " + strerror(errno ? errno : 5));
}

class FileHandle {
public:
    explicit FileHandle(int fd) : fd_(fd) {}
    ~FileHandle() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    int fd() const { return fd_; }

private:
    int fd_;
};

class AtaDevice : public SmartDevice {
public:
    explicit AtaDevice(int fd) : file_(fd) {}

    ErrorPtr identify(uint8_t* block) override { return command(kIdentifyCommand, 0, 1, block, nullptr); }
    ErrorPtr enableOperations(bool on) override { return command(kSmartCommand, on ? kEnable : kDisable, 0, nullptr, nullptr); }
    ErrorPtr returnStatus(bool& exceeded) override {
        AtaRegisters regs;
        if (ErrorPtr e = command(kSmartCommand, kReturnStatus, 0, nullptr, &regs)) return e;
        const int status = smartStatusFromRegisters(regs);
        if (status < 0) return makeError("SMART", 5, "the status registers were not returned");
        exceeded = status == 1;
        return nullptr;
    }
    ErrorPtr readData(uint8_t* block) override { return command(kSmartCommand, kReadData, 1, block, nullptr); }
    ErrorPtr readThresholds(uint8_t* block) override {
        return command(kSmartCommand, kReadThresholds, 1, block, nullptr);
    }

private:
    // One ATA command; `sectors` 1 reads 512 bytes into `block` (PIO data-in), 0 moves none.
    // With `regs` the registers are asked back (CK_COND) and parsed from the sense data.
    ErrorPtr command(uint8_t cmd, uint8_t feature, int sectors, uint8_t* block, AtaRegisters* regs) {
        uint8_t cdb[16] = {};
        uint8_t sense[64] = {};
        cdb[0] = 0x85;  // ATA PASS-THROUGH(16)
        if (sectors) {
            cdb[1] = 4 << 1;                  // PIO data-in
            cdb[2] = 0x08 | 0x04 | 0x02;      // T_DIR in, BYT_BLOK, T_LENGTH in the count field
        } else {
            cdb[1] = 3 << 1;                  // non-data
            cdb[2] = regs ? 0x20 : 0;         // CK_COND: return the registers
        }
        cdb[4] = feature;
        cdb[6] = static_cast<uint8_t>(sectors);
        if (cmd == kSmartCommand) {
            cdb[10] = 0x4f;  // LBA mid
            cdb[12] = 0xc2;  // LBA high
        }
        cdb[14] = cmd;
        sg_io_hdr_t io;
        memset(&io, 0, sizeof io);
        io.interface_id = 'S';
        io.cmdp = cdb;
        io.cmd_len = sizeof cdb;
        io.sbp = sense;
        io.mx_sb_len = sizeof sense;
        io.timeout = kCommandTimeoutMs;
        io.dxfer_direction = sectors ? SG_DXFER_FROM_DEV : SG_DXFER_NONE;
        io.dxferp = block;
        io.dxfer_len = sectors ? kBlockSize : 0;
        errno = 0;
        if (ioctl(file_.fd(), SG_IO, &io) < 0) return osError("SG_IO");
        if (io.host_status || (io.driver_status & 0x0f) == 0x06 /* time-out */)
            return makeError("SMART", 5, "the drive did not answer the command");
        if (regs) {
            *regs = parseSense(sense, io.sb_len_wr);
            if (!regs->found) return makeError("SMART", 5, "the sense data carried no registers");
            if (regs->status & 0x01) return makeError("SMART", 5, "the drive refused the command");
            return nullptr;
        }
        if (io.status && io.status != 0x02) return makeError("SMART", 5, "the command failed");
        if (io.sb_len_wr) {
            AtaRegisters r = parseSense(sense, io.sb_len_wr);
            if (r.found && (r.status & 0x01)) return makeError("SMART", 5, "the drive refused the command");
            // Sense key other than "no sense" or "recovered" without registers: a failure.
            const uint8_t key = (sense[0] & 0x7f) >= 0x72 ? (sense[1] & 0x0f) : (io.sb_len_wr > 2 ? sense[2] & 0x0f : 0);
            if (!r.found && key != 0 && key != 1) return makeError("SMART", 5, "the command failed");
        }
        return nullptr;
    }

    FileHandle file_;
};

class NvmeDevice : public SmartDevice {
public:
    explicit NvmeDevice(int fd) : file_(fd) {}

    // NVMe drives have no IDENTIFY DEVICE block of this form: an empty one with SMART
    // supported and enabled.
    ErrorPtr identify(uint8_t* block) override {
        memset(block, 0, kBlockSize);
        block[164] = 1;
        block[170] = 1;
        for (size_t w = 10; w < 47; ++w) block[2 * w] = block[2 * w + 1] = ' ';
        return nullptr;
    }
    ErrorPtr enableOperations(bool) override { return nullptr; }
    ErrorPtr returnStatus(bool& exceeded) override {
        NvmeHealth h;
        if (ErrorPtr e = health(h)) return e;
        exceeded = h.criticalWarning != 0;
        return nullptr;
    }
    ErrorPtr readData(uint8_t* block) override {
        uint8_t thresholds[kBlockSize];
        NvmeHealth h;
        if (ErrorPtr e = health(h)) return e;
        nvmeAsAtaBlocks(h, block, thresholds);
        return nullptr;
    }
    ErrorPtr readThresholds(uint8_t* block) override {
        uint8_t data[kBlockSize];
        nvmeAsAtaBlocks(NvmeHealth{}, data, block);
        return nullptr;
    }

private:
    ErrorPtr health(NvmeHealth& h) {
        uint8_t page[512] = {};
        struct nvme_admin_cmd cmd;
        memset(&cmd, 0, sizeof cmd);
        cmd.opcode = 0x02;  // Get Log Page
        cmd.nsid = 0xffffffff;
        cmd.addr = reinterpret_cast<uintptr_t>(page);
        cmd.data_len = sizeof page;
        cmd.cdw10 = 0x02 | (127u << 16);  // SMART / health information, 128 dwords
        cmd.timeout_ms = kCommandTimeoutMs;
        errno = 0;
        if (ioctl(file_.fd(), NVME_IOCTL_ADMIN_CMD, &cmd) != 0) return osError("NVME_IOCTL_ADMIN_CMD");
        h = parseNvmeHealth(page, sizeof page);
        return nullptr;
    }

    FileHandle file_;
};

std::unique_ptr<SmartDevice> openLinux(const std::string& bsd, ErrorPtr& error) {
    if (bsd.empty() || bsd.find('/') != std::string::npos) {
        error = makeError("SMART", 22, "not a device name");
        return nullptr;
    }
    const std::string path = fs::resolve("/dev/" + bsd);
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = osError("open " + path);
        return nullptr;
    }
    if (bsd.compare(0, 4, "nvme") == 0) return std::make_unique<NvmeDevice>(fd);
    int version = 0;
    if (bsd.compare(0, 2, "sd") == 0 && ioctl(fd, SG_GET_VERSION_NUM, &version) == 0 && version >= 30000)
        return std::make_unique<AtaDevice>(fd);
    ::close(fd);
    error = makeError("SMART", 45, bsd + " speaks neither ATA nor NVMe");
    return nullptr;
}

}  // namespace

std::unique_ptr<SmartDevice> openDevice(const std::string& bsd, ErrorPtr& error) {
    Opener opener;
    {
        std::lock_guard<std::mutex> lock(gOpenerMutex);
        opener = gOpener;
    }
    return opener ? opener(bsd, error) : openLinux(bsd, error);
}

bool smartCapable(const std::string& bsd) {
    ErrorPtr error;
    auto device = openDevice(bsd, error);
    if (!device) return false;
    uint8_t block[kBlockSize] = {};
    if (device->identify(block)) return false;
    return parseIdentify(block, sizeof block).smartSupported;
}

void setOpenerForTesting(Opener opener) {
    std::lock_guard<std::mutex> lock(gOpenerMutex);
    gOpener = std::move(opener);
}

}  // namespace telvo::smart

namespace telvo::smart {

bool openerInstalledForTesting() {
    std::lock_guard<std::mutex> lock(gOpenerMutex);
    return static_cast<bool>(gOpener);
}

}  // namespace telvo::smart
