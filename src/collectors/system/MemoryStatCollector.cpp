// The memory collector's configuration and its table migration.
#include "collectors/system/MemoryStatCollector.h"

#include "collectors/framework/ConfigMaps.h"
#include "collectors/framework/HistoryTableTexts.h"
#include "history/HistoryDatabaseController.h"
#include "history/HistoryDatabaseItem.h"

namespace telvo {

using namespace configmaps;

MemoryStatCollector::MemoryStatCollector() : StatCollector(sampleCount()) {
    setDbTablePrefix("memory");
    Value& c = config();
    c.set("addSampleIDKeys", names({"sample", "id"}));
    c.set("addSampleMap",
          indexMap({{"t", kTotal},        {"to", kTotal},          {"total", kTotal},         {"f", kFree},
                    {"free", kFree},      {"u", kUnused},          {"pi", kPageins},          {"pageins", kPageins},
                    {"po", kPageouts},    {"pageouts", kPageouts}, {"pif", kPageinsPerTick},  {"pagesinsf", kPageinsPerTick},
                    {"pof", kPageoutsPerTick}, {"pageoutsf", kPageoutsPerTick}, {"su", kSwapUsed}, {"swapused", kSwapUsed},
                    {"st", kSwapTotal},   {"swaptotal", kSwapTotal}, {"w", kWired},           {"wired", kWired},
                    {"a", kActive},       {"active", kActive},     {"i", kInactive},          {"inactive", kInactive},
                    {"c", kCompressed},   {"compressed", kCompressed}, {"pressure", kPressure}, {"vt", kPressure},
                    {"buf", kPressure},   {"ca", kFileCache},      {"va", kFileCache},        {"filecache", kFileCache},
                    {"app", kApp},        {"file", kApp},          {"ex", kPressureLevel}}));
    c.set("sampleKeys", indexMap({{"wired", kWired}, {"active", kActive}, {"inactive", kInactive},
                                  {"compressed", kCompressed}, {"free", kFree}, {"total", kTotal},
                                  {"pageins", kPageins}, {"pageouts", kPageouts}, {"swapused", kSwapUsed},
                                  {"swaptotal", kSwapTotal}, {"pagesinsf", kPageinsPerTick},
                                  {"pageoutsf", kPageoutsPerTick}}));
    c.set("emptySampleKeys", names({"wired", "active", "inactive", "compressed", "free", "total", "pageins",
                                    "pageouts", "swapused", "swaptotal", "pagesinsf", "pageoutsf"}));
    c.set("xmlSampleKeys", indexMap({{"w", kWired}, {"a", kActive}, {"i", kInactive}, {"f", kFree},
                                     {"pi", kPageins}, {"po", kPageouts}, {"su", kSwapUsed}, {"st", kSwapTotal},
                                     {"to", kTotal}, {"compressed", kCompressed}, {"pressure", kPressure},
                                     {"filecache", kFileCache}, {"app", kApp}, {"pif", kPageinsPerTick},
                                     {"pof", kPageoutsPerTick}}));
    c.set("xmlSampleMultiply", NSInt(1024));
    c.set("xmlSampleMultiplyProtocols", numbers({3}));
    c.set("xmlSampleMultiplyExcludeKeys", names({"pi", "po", "pif", "pof", "pressure", "st", "su"}));
    c.set("xmlSampleDivide", NSInt(1048576));
    c.set("xmlSampleDivideProtocols", numbers({2}));
    c.set("xmlSampleDivideExcludeKeys", names({"pi", "po", "pressure"}));
    historytables::setSampleInsert(c, {"wired", "active", "inactive", "free", "pageins", "pageouts", "swapused",
                                       "swaptotal", "total", "compressed", "pagesinsf", "pageoutsf"});
    const std::string create = historytables::sampleTable(
        "wired double NOT NULL DEFAULT 0, active double NOT NULL DEFAULT 0, inactive double NOT NULL DEFAULT 0, "
        "free double NOT NULL DEFAULT 0, pageins double NOT NULL DEFAULT 0, pageouts double NOT NULL DEFAULT 0, "
        "swapused double NOT NULL DEFAULT 0, swaptotal double NOT NULL DEFAULT 0, total double NOT NULL DEFAULT 0, "
        "compressed double NOT NULL DEFAULT 0, pagesinsf double NOT NULL DEFAULT 0, pageoutsf double NOT NULL "
        "DEFAULT 0");
    c.set("sqlCreate", Value(create));
    c.set("sqlCreateLong", Value(create));
}

bool MemoryStatCollector::migrateDatabase(bool flag) {
    static const char* const kColumns[][2] = {
        {"compressed", "ALTER TABLE %@ ADD COLUMN compressed DOUBLE NOT NULL DEFAULT 0"},
        {"pagesinsf", "ALTER TABLE %@ ADD COLUMN pagesinsf DOUBLE NOT NULL DEFAULT 0"},
        {"pageoutsf", "ALTER TABLE %@ ADD COLUMN pageoutsf DOUBLE NOT NULL DEFAULT 0"},
    };
    bool changed = false;
    auto migrate = [&](const std::string& path, int64_t level) {
        const std::string table = tableAtIndex(level);
        if (path.empty() || table.empty()) return;
        databaseItemWithPath(path)->queryDatabase([&](const FMDatabasePtr& db) {
            if (!db) return;
            for (const auto& column : kColumns) {
                if (db->columnExists(column[0], table)) continue;
                std::string sql = column[1];
                sql.replace(sql.find("%@"), 2, table);
                if (db->executeUpdate(sql)) changed = true;
            }
        });
    };
    for (int64_t level = 1; level <= 7; ++level) migrate(dbpath(), level);
    migrate(dbpathLong(), 8);
    return flag || changed;
}

}  // namespace telvo
