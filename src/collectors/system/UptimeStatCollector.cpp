// The uptime collector: the "boottimes" tables and the answer to a request.
#include "collectors/system/UptimeStatCollector.h"

#include "collectors/framework/FrameworkLog.h"
#include "collectors/framework/HistoryAccess.h"
#include "collectors/framework/XMLNumberFormat.h"
#include "platform/time/Clock.h"

namespace telvo {

UptimeStatCollector::UptimeStatCollector() : StatCollector(0) { config().set("xmlNoSamples", Value(true)); }

bool UptimeStatCollector::migrateDatabase(bool flag) {
    for (const std::string& path : {dbpath(), dbpathLong()}) {
        if (path.empty() || historyaccess::tableExists(path, "boottimes")) continue;
        if (historyaccess::execute(path, "create table boottimes (time double NOT NULL)")) flag = true;
    }
    return flag;
}

void UptimeStatCollector::loadUptime() {
    double seconds = 0;
    if (!readBootTime(seconds) || seconds <= 0) {
        frameworklog::log("uptime: cannot read the boot time");
        return;
    }
    boottime_ = seconds;
    addToDatabase();
}

void UptimeStatCollector::addToDatabase() {
    // A boot time that was never read is not a boot time of 1970.
    if (boottime_ <= 0) return;
    for (const std::string& path : {dbpath(), dbpathLong()}) {
        if (path.empty()) continue;
        if (historyaccess::query(path, "SELECT * FROM boottimes WHERE time = ?", {Value(boottime_)}).empty())
            historyaccess::execute(path, "insert into boottimes (time) values (?)", {Value(boottime_)});
    }
}

std::vector<StatNodePtr> UptimeStatCollector::xmlNodesFromAttributes(const Value&) {
    // A boot time unknown at start is tried again, so that a passing failure does not last
    // for the daemon's life.
    if (boottime_ <= 0) loadUptime();
    auto stat = StatNode::element("stat");
    addKey("type", Value(statType()), *stat);
    const double u = boottime_ > 0 ? platform::Clock::now() - boottime_ : 0;
    addKey("u", Value(xmlnumber::value(u)), *stat);
    return {stat};
}

}  // namespace telvo
