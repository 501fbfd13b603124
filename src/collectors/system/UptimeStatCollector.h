#pragma once
// UptimeStatCollector: the machine's boot time, read once at daemon start and recorded in the
// table "boottimes" of both history files (one row per distinct boot time); every request is
// answered with the seconds since boot. Stat type "uptime"; no samples, no level tables, no
// clock.
#include <memory>
#include <string>
#include <vector>

#include "collectors/framework/StatCollector.h"

namespace telvo {

class UptimeStatCollector : public StatCollector {
public:
    UptimeStatCollector();

    static std::string statTypeName() { return "uptime"; }
    std::string statType() const override { return statTypeName(); }
    std::string description() const override { return "UptimeStatCollector"; }

    // No level tables at any level.
    std::string tableAtIndex(int64_t) override { return std::string(); }
    std::string itemTableAtIndex(int64_t) override { return std::string(); }
    // The framework creates no level tables for this collector; this step creates
    // "boottimes" in the local and then the long-term file where it is missing, and answers
    // true when the incoming flag was true or a table was created.
    bool migrateDatabase(bool flag) override;

    // One "stat" element: "type" and "u", the seconds since boot ("%.2f").
    std::vector<StatNodePtr> xmlNodesFromAttributes(const Value& attributes) override;

    // Reads the boot time and records it (addToDatabase). When it cannot be read, the boot
    // time stays unknown and nothing is recorded.
    virtual void loadUptime();
    // Records the boot time in both files unless a row with it is there already.
    void addToDatabase();

    double uptime() const { return uptime_; }
    void setUptime(double v) { uptime_ = v; }
    // Seconds since 1970; -1 while unknown.
    double boottime() const { return boottime_; }
    void setBoottime(double v) { boottime_ = v; }

protected:
    // Reads the operating system's boot time; false when it cannot.
    virtual bool readBootTime(double& seconds) = 0;

private:
    double uptime_ = -1;
    double boottime_ = -1;
};

}  // namespace telvo
