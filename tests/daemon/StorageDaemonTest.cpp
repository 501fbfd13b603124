// The storage collectors through the running daemon on this machine (smoke): writing and
// syncing 64 MiB to the root disk shows in its "diskactivity" counter as in /proc/diskstats,
// the first sample after a start is 0, the history survives a restart, and "disks" lists "/".
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

#include "DaemonProgramFixture.h"
#include "FreePort.h"
#include "ProtocolClient.h"
#include "daemon/Controller.h"
#include "daemon/TVSKeychain.h"
#include "daemon/TVSPreferences.h"
#include "platform/values/PropertyList.h"

using namespace telvo;
using telvo::testclient::ProtocolClient;

namespace {

using Attributes = std::map<std::string, std::string>;

Attributes attributesOf(const std::string& element) {
    Attributes a;
    static const std::regex attribute("([A-Za-z_]+)=\"([^\"]*)\"");
    for (std::sregex_iterator it(element.begin(), element.end(), attribute), end; it != end; ++it)
        a[(*it)[1]] = (*it)[2];
    return a;
}

// The text of the stat element of that type and level.
std::string statElement(const std::string& payload, const std::string& type, int level) {
    const std::string open = "<stat type=\"" + type + "\" interval=\"" + std::to_string(level) + "\"";
    size_t at = payload.find(open);
    if (at == std::string::npos) return "";
    return payload.substr(at, payload.find("</stat>", at) - at);
}

// The item element (its own attributes) whose attribute has that value, and its samples.
bool findItem(const std::string& stat, const std::string& key, const std::string& value, Attributes& item,
              std::vector<Attributes>& samples) {
    size_t at = 0;
    while ((at = stat.find("<item ", at)) != std::string::npos) {
        size_t close = stat.find('>', at);
        size_t end = stat.find("</item>", at);
        Attributes a = attributesOf(stat.substr(at, close - at));
        if (a[key] == value) {
            item = a;
            samples.clear();
            std::string body = stat.substr(close, end - close);
            for (size_t s = 0; (s = body.find("<s ", s)) != std::string::npos; ++s)
                samples.push_back(attributesOf(body.substr(s, body.find('>', s) - s)));
            return true;
        }
        at = end;
    }
    return false;
}

// The disk that holds "/" (its whole disk when "/" is on a partition) and its sectors written.
std::string rootDisk() {
    struct stat st {};
    if (stat("/", &st) != 0) return "";
    const std::string dev = std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev));
    std::error_code ec;
    std::filesystem::path p = std::filesystem::canonical("/sys/dev/block/" + dev, ec);
    if (ec) return "";
    if (std::filesystem::exists(p / "partition")) p = p.parent_path();
    return std::filesystem::exists(p / "stat") ? p.filename().string() : "";
}

double sectorsWritten(const std::string& disk) {
    std::ifstream in("/proc/diskstats");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream f(line);
        std::string major, minor, name;
        double v[7] = {};
        f >> major >> minor >> name;
        for (double& x : v) f >> x;
        if (name == disk) return v[6];
    }
    return -1;
}

class StorageDaemonTest : public telvo::testing::DaemonProgramFixture {
protected:
    void connect(ProtocolClient& client, bool remembered = false) { logIn(client, "STORAGE-DEVICE", remembered); }
    // The root disk's "diskactivity" item and its samples at a level, once the daemon has one
    // (within 60 s).
    bool activity(ProtocolClient& client, const std::string& disk, const std::string& samples, int level,
                  Attributes& item, std::vector<Attributes>& list) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < deadline) {
            if (!client.send(ProtocolClient::statRequest("diskactivity", samples))) return false;
            auto reply = client.readStatReply();
            if (!reply) return false;
            // Older levels of an item are read from the history file on the first request.
            if (findItem(statElement(reply->payload, "diskactivity", level), "bsd", disk, item, list) && !list.empty())
                return true;
            lastPayload_ = reply->payload;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        return false;
    }

    std::string lastPayload_;
};

}  // namespace

TEST_F(StorageDaemonTest, RootDiskWritesCountedAndHistoryKeptAcrossARestart) {
    const std::string disk = rootDisk();
    if (disk.empty()) GTEST_SKIP() << "SKIPPED LOUDLY: no block device with statistics holds / on this machine";
    start();
    ProtocolClient client;
    connect(client);
    Attributes item;
    std::vector<Attributes> samples;
    ASSERT_TRUE(activity(client, disk, "0", 0, item, samples)) << lastPayload_;
    EXPECT_EQ(samples.front()["w"], "0.00") << "the first sample after start is 0";
    EXPECT_EQ(samples.front()["r"], "0.00");
    const std::string key = item["uuid"];

    // "diskinfo" is sent again only after a disk event has raised its session.
    auto diskinfo = [&](const std::string& session) {
        const std::string request = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><tvx type=\"103\"><stat "
                                    "type=\"diskinfo\" samples=\"0\" session=\"" + session + "\"></stat></tvx>";
        EXPECT_TRUE(client.send(request));
        auto reply = client.readStatReply();
        return reply ? statElement(reply->payload, "diskinfo", 0) : std::string("no reply");
    };
    const std::string first = diskinfo("0");
    ASSERT_NE(first.find("key=\"" + disk + "\""), std::string::npos) << first;
    // Other programs' devices may come and go meanwhile: then the session must have grown.
    std::string seen = attributesOf(first.substr(0, first.find('>')))["session"];
    bool withheld = false;
    for (int attempt = 0; attempt < 5 && !withheld; ++attempt) {
        const std::string again = diskinfo(seen);
        withheld = again.empty();
        if (withheld) break;
        const std::string now = attributesOf(again.substr(0, again.find('>')))["session"];
        ASSERT_GT(std::stoll(now), std::stoll(seen)) << again;
        seen = now;
    }
    EXPECT_TRUE(withheld);

    // "disks" lists "/" as the boot volume, once the volumes collector has its first rows (its
    // first look at the mounts may come after the disk statistics').
    std::string volumes;
    for (const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
         volumes.find("<item ") == std::string::npos && std::chrono::steady_clock::now() < deadline;) {
        ASSERT_TRUE(client.send(ProtocolClient::statRequest("disks", "-1")));
        auto disks = client.readStatReply();
        ASSERT_TRUE(disks);
        volumes = statElement(disks->payload, "disks", 0);
        if (volumes.find("<item ") == std::string::npos) std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    EXPECT_NE(volumes.find("boot=\"1\""), std::string::npos) << volumes;

    // 64 MiB written and synced; the daemon's counter moves as the kernel's does. Other writers
    // on a busy machine move both, so the kernel's counter is read on both sides of each of the
    // daemon's readings: a reading whose sample time lies after a kernel read was taken after it
    // (a tick reads the counters after taking its time), and one that has been answered was
    // taken before the next kernel read. The daemon's change must then lie between the kernel's
    // inner and outer changes, and hold the 64 MiB.
    const double kBytes = 64.0 * 1024 * 1024;
    auto wallNow = [] {
        return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    };
    // The daemon's counter from a sample taken after `after` (wall seconds). Sample times are
    // sent rounded to whole seconds: the sample was taken at most half a second before.
    auto readingAfter = [&](double after, double& w) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < deadline) {
            if (!activity(client, disk, "-1", 0, item, samples)) return false;
            if (std::stod(samples.front()["time"]) - 0.5 > after) {
                w = std::stod(item["w"]);
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    };
    double w0 = 0, w1 = 0;
    const double kBefore0 = sectorsWritten(disk) * 512;
    double t = wallNow();
    ASSERT_TRUE(readingAfter(t, w0));
    const double kAfter0 = sectorsWritten(disk) * 512;
    const std::string file = "/var/tmp/telvo-storage-write-" + std::to_string(getpid());
    {
        int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        std::string block(1 << 20, '\x5a');
        for (int i = 0; i < 64; ++i) {
            block[0] = char(i);
            ASSERT_EQ(write(fd, block.data(), block.size()), ssize_t(block.size()));
        }
        ASSERT_EQ(fsync(fd), 0);
        close(fd);
    }
    unlink(file.c_str());
    const double kBefore1 = sectorsWritten(disk) * 512;
    t = wallNow();
    ASSERT_TRUE(readingAfter(t, w1));
    const double kAfter1 = sectorsWritten(disk) * 512;
    const double daemon = w1 - w0;
    EXPECT_GE(daemon, kBytes);
    EXPECT_GE(daemon, kBefore1 - kAfter0) << "kernel " << kBefore0 << " " << kAfter0 << " " << kBefore1 << " " << kAfter1;
    EXPECT_LE(daemon, kAfter1 - kBefore0) << "kernel " << kBefore0 << " " << kAfter0 << " " << kBefore1 << " " << kAfter1;

    // History: the daemon restarted once the disk has three hour samples; the same disk's hour
    // samples are back, with the oldest of them. (A start reads an item's stored rows below the
    // level's newest stored sample but one, so the newest two may come back only later.)
    auto oldestHourSample = [&](ProtocolClient& c, size_t atLeast, std::string& time) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < deadline) {
            if (!activity(c, disk, "0|0", 1, item, samples)) return false;
            if (samples.size() >= atLeast) {
                time = std::min_element(samples.begin(), samples.end(), [](Attributes& a, Attributes& b) {
                           return std::stod(a["time"]) < std::stod(b["time"]);
                       })->at("time");
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        }
        return false;
    };
    std::string kept;
    ASSERT_TRUE(oldestHourSample(client, 3, kept)) << "fewer than three hour samples: " << lastPayload_;
    stop(SIGTERM);
    start();
    ProtocolClient again;
    connect(again, true);
    ASSERT_TRUE(activity(again, disk, "0|0", 1, item, samples)) << "no hour samples after the restart: " << lastPayload_;
    EXPECT_EQ(item["uuid"], key);
    EXPECT_TRUE(std::any_of(samples.begin(), samples.end(), [&](Attributes& s) { return s["time"] == kept; }))
        << "the hour sample of " << kept << " is not back";
    // The first live sample after the restart is 0 too, though history was loaded.
    ASSERT_TRUE(activity(again, disk, "0", 0, item, samples));
    EXPECT_EQ(samples.front()["w"], "0.00");
}
