// telvo-smoke: runs the shared foundation on this machine — the version record, a registry walk
// of the block devices, a daemon log line under the file-system root, compression, AES, MD5 and
// the regular expressions — and prints what it found. Exit status 0 when everything worked.
#include <sys/utsname.h>

#include <cstdio>
#include <string>

#include "foundation/KXRVersions.h"
#include "foundation/ServerLog.h"
#include "foundation/extensions/DataAES256.h"
#include "foundation/extensions/DataZLibSupport.h"
#include "foundation/extensions/KXRIOKitUtilities.h"
#include "foundation/extensions/StringMD5.h"
#include "foundation/regex/RegexKitLite.h"
#include "platform/fs/Root.h"

using namespace telvo;

namespace {

int failures = 0;

void check(bool ok, const std::string& what) {
    printf("  [%s] %s\n", ok ? " ok " : "FAIL", what.c_str());
    if (!ok) ++failures;
}

const char* yesNo(bool b) { return b ? "YES" : "NO"; }

void versions() {
    printf("Operating-system version record\n");
    KXRVersions& v = KXRVersions::sharedVersions();
    struct utsname u {};
    uname(&u);
    printf("  reported %lld.%lld.%lld (kernel %s %s)\n", (long long)v.major(), (long long)v.minor(),
           (long long)v.bugfix(), u.sysname, u.release);
    printf("  mountainLion %s, mavericks %s, yosemite %s, elCapitan %s, sierra %s, highSierra %s\n",
           yesNo(v.mountainLion()), yesNo(v.isMavericks()), yesNo(v.isYosemite()), yesNo(v.isElCapitan()),
           yesNo(v.isSierra()), yesNo(v.isHighSierra()));
    check(v.mountainLion(), "the modern routes are taken (10.8 or later)");
}

void blockDevices() {
    printf("Registry: block storage drivers\n");
    auto drivers = KXRIOKitUtilities::iteratorWithServiceNameMatch("IOBlockStorageDriver");
    int count = 0;
    while (true) {
        Value driver = drivers.next();
        if (!driver.isDictionary()) break;
        ++count;
        Value device = KXRIOKitUtilities::dictionaryForParentAtIndex(1, drivers.object());
        Value chars = device["Device Characteristics"];
        Value proto = device["Protocol Characteristics"];
        auto media = KXRIOKitUtilities::childIteratorFromObject(drivers.object());
        Value whole = media.next();
        printf("  %-10s %-32s %8.1f GB  %s, %s, %s\n", whole["BSD Name"].stringValue().c_str(),
               KXRIOKitUtilities::nameForObject(media.object()).c_str(), whole["Size"].doubleValue() / 1e9,
               chars["Medium Type"].stringValue().c_str(), proto["Physical Interconnect"].stringValue().c_str(),
               proto["Physical Interconnect Location"].stringValue().c_str());
        Value stats = driver["Statistics"];
        printf("             read %lld bytes in %lld operations, wrote %lld bytes in %lld operations\n",
               (long long)stats["Bytes (Read)"].intValue(), (long long)stats["Operations (Read)"].intValue(),
               (long long)stats["Bytes (Write)"].intValue(), (long long)stats["Operations (Write)"].intValue());
        printf("             path %s\n", KXRIOKitUtilities::pathForObject(drivers.object()).c_str());
        auto partitions = KXRIOKitUtilities::childIteratorFromObject(media.object());
        for (Value p = partitions.next(); p.isDictionary(); p = partitions.next())
            printf("             partition %-10s %8.1f GB\n", p["BSD Name"].stringValue().c_str(),
                   p["Size"].doubleValue() / 1e9);
    }
    printf("  %d driver(s)\n", count);
}

void logLine() {
    printf("Daemon log line\n");
    const std::string logical = "/Library/Logs/TelvoServer.log";
    const std::string host = fs::resolve(logical);
    fs::createDirectories("/Library/Logs");
    FILE* log = fopen(host.c_str(), "a+");
    check(log != nullptr, "opened " + logical + " as " + host);
    if (!log) return;
    setDaemonLogStream(log);
    DLog("telvo-smoke: foundation check, version %lld.%lld", (long long)KXRVersions::sharedVersions().major(),
         (long long)KXRVersions::sharedVersions().minor());
    setDaemonLogStream(nullptr);
    fclose(log);
    std::string contents;
    fs::readFile(logical, contents);
    size_t end = contents.size() ? contents.size() - 1 : 0;
    size_t start = contents.rfind('\n', end ? end - 1 : 0);
    std::string last = contents.substr(start == std::string::npos ? 0 : start + 1);
    printf("  last line: %s", last.c_str());
    check(isMatchedByRegex(last, "^\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\\.\\d{3}: telvo-smoke"),
          "the line has the log viewer's shape");
}

void extensions() {
    printf("Data and string extensions\n");
    std::string text;
    for (int i = 0; i < 200; ++i) text += "<s t=\"" + std::to_string(i) + "\" v=\"0.00\"></s>";
    Bytes payload(text.begin(), text.end());
    auto gz = deflate(payload);
    check(gz && inflate(*gz) == payload,
          "gzip " + std::to_string(payload.size()) + " -> " + std::to_string(gz ? gz->size() : 0) + " bytes and back");
    const std::string key = "smoke0key0of29characters0abc1";
    auto cipher = AES256EncryptWithKey(payload, key);
    check(cipher && AES256DecryptWithKey(*cipher, key) == payload, "AES-256 round trip");
    check(MD5("") == "d41d8cd98f00b204e9800998ecf8427e", "MD5 of the empty string");
    check(stringByReplacingOccurrencesOfRegex("2024-12-30", "(\\d+)-(\\d+)-(\\d+)", "$3.$2.$1") == "30.12.2024",
          "regular-expression replacement");
}

}  // namespace

int main() {
    printf("telvo-smoke: file-system root %s\n", fs::root().c_str());
    versions();
    blockDevices();
    logLine();
    extensions();
    printf("%s\n", failures ? "telvo-smoke: FAILED" : "telvo-smoke: all checks passed");
    return failures ? 1 : 0;
}
