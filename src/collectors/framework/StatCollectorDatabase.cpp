// The history tables of a collector: names, creation, row writing, pruning, loading and the
// lazy loading of one item's stored history.
#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>

#include "collectors/framework/FrameworkLog.h"
#include "collectors/framework/HistoryAccess.h"
#include "collectors/framework/StatCollector.h"
#include "platform/dispatch/Queue.h"
#include "platform/time/Clock.h"

namespace telvo {

namespace {
const char* const kLevelPrefixes[kSampleLevelCount] = {"",           "hour_",     "day_",  "week_", "month_",
                                                       "threemonth_", "sixmonth_", "year_", ""};

std::string withTable(const std::string& format, const std::string& table) {
    std::string out = format;
    auto at = out.find("%@");
    if (at != std::string::npos) out.replace(at, 2, table);
    return out;
}

// The configuration text and key list of an insert, with the level-8 forms when present.
void insertStatement(const Value& config, int64_t level, const char* sqlKey, const char* keysKey,
                     const char* sqlLongKey, const char* keysLongKey, std::string& sql, Value& keys) {
    sql = config[sqlKey].stringValue();
    keys = config[keysKey];
    if (level == 8) {
        if (config.has(sqlLongKey)) sql = config[sqlLongKey].stringValue();
        if (config.has(keysLongKey)) keys = config[keysLongKey];
    }
}
}  // namespace

const std::vector<std::string>& StatCollector::dbTables() {
    if (dbTables_.empty()) {
        const char* suffix = storageType_ == 2 ? "idhistory" : "history";
        for (int64_t l = 0; l < kSampleLevelCount; ++l)
            dbTables_.push_back(l == 0 ? std::string() : kLevelPrefixes[l] + dbTablePrefix_ + suffix);
    }
    return dbTables_;
}

const std::vector<std::string>& StatCollector::dbTablesItems() {
    if (dbTablesItems_.empty())
        for (int64_t l = 0; l < kSampleLevelCount; ++l)
            dbTablesItems_.push_back(l == 0 ? std::string() : kLevelPrefixes[l] + dbTablePrefix_ + "history");
    return dbTablesItems_;
}

std::string StatCollector::tableAtIndex(int64_t level) {
    if (level < 1 || level > 8) return std::string();
    return dbTables()[level];
}

std::string StatCollector::itemTableAtIndex(int64_t level) {
    if (level < 1 || level > 8) return std::string();
    return dbTablesItems()[level];
}

bool StatCollector::checkIfTablesExist(int64_t level, const std::string& path, bool flag) {
    if (path.empty()) return flag;
    auto create = [&](const std::string& table, const char* key) {
        if (table.empty() || historyaccess::tableExists(path, table)) return;
        if (historyaccess::execute(path, withTable(config_[key].stringValue(), table))) flag = true;
    };
    if (storageType_ == 2) {
        create(tableAtIndex(level), "sqlCreateID");
        create(itemTableAtIndex(level), "sqlCreate");
    } else {
        create(tableAtIndex(level), "sqlCreate");
    }
    return flag;
}

bool StatCollector::checkIfLongTermTablesExist(int64_t level, const std::string& path, bool flag) {
    if (path.empty()) return flag;
    auto create = [&](const std::string& table, const char* key) {
        if (table.empty() || historyaccess::tableExists(path, table)) return;
        if (historyaccess::execute(path, withTable(config_[key].stringValue(), table))) flag = true;
    };
    if (storageType_ == 2) {
        create(tableAtIndex(level), "sqlCreateIDLong");
        create(itemTableAtIndex(level), "sqlCreateLong");
    } else {
        create(tableAtIndex(level), "sqlCreateLong");
    }
    return flag;
}

bool StatCollector::prepareDatabase(bool flag) {
    for (int64_t level = 1; level <= 8; ++level) {
        flag = checkIfTablesExist(level, dbpath_, flag);
        if (level == 8 && !dbpathLong_.empty()) flag = checkIfLongTermTablesExist(level, dbpathLong_, flag);
    }
    return migrateDatabase(flag);
}

bool StatCollector::migrateDatabase(bool flag) { return flag; }

namespace {
// The row's sample number, by which a history file that cannot be written bounds what it
// keeps for a table to the ring's reach.
std::optional<double> sampleNumber(const Value& sample) {
    if (!sample.has("sample")) return std::nullopt;
    return sample["sample"].doubleValue();
}
}  // namespace

void StatCollector::insertSample(const Value& sample, int64_t level) {
    const std::string table = tableAtIndex(level);
    if (table.empty()) return;
    const std::string& path = level == 8 ? dbpathLong_ : dbpath_;
    if (path.empty()) return;

    std::string sql;
    Value keys;
    insertStatement(config_, level, "sqlInsert", "sqlInsertKeys", "sqlInsertLong", "sqlInsertKeysLong", sql, keys);
    if (!sql.empty()) {
        ValueArray args;
        for (const Value& key : keys.array()) {
            const std::string& k = key.string();
            if (!sample.has(k)) {
                frameworklog::log(description() + " - missing key - '" + k + "'");
                args.emplace_back();  // bound as NULL, so the row keeps its shape
                continue;
            }
            args.push_back(sample[k]);
        }
        historyaccess::addWrite(path, sql, table, args, sampleNumber(sample));
    }

    if (storageType_ != 2) return;
    const std::string itemTable = itemTableAtIndex(level);
    if (itemTable.empty()) return;
    insertStatement(config_, level, "sqlInsertItem", "sqlInsertItemKeys", "sqlInsertItemLong",
                    "sqlInsertItemKeysLong", sql, keys);
    if (sql.empty()) return;
    for (const Value& entry : sample["items"].array()) {
        if (entry["empty"].boolValue()) continue;
        ValueArray args;
        for (const Value& key : keys.array()) {
            const std::string& k = key.string();
            if (!entry.has(k)) {
                frameworklog::log(description() + " - missing item key - '" + k + "'");
                args.emplace_back();
                continue;
            }
            args.push_back(entry[k]);
        }
        historyaccess::addWrite(path, sql, itemTable, args, entry.has("sample") ? sampleNumber(entry) : sampleNumber(sample));
    }
}

void StatCollector::removeOldSamplesAtIndex(int64_t level) {
    if (level < 1 || level > 7 || dbpath_.empty()) return;
    const double cut = storage_.level(level).sampleID - kSamplesPerLevel;
    if (cut < 0) return;
    const std::string sql = "DELETE FROM %@ WHERE sample < ?";
    const std::string table = tableAtIndex(level);
    if (!table.empty()) historyaccess::addWrite(dbpath_, sql, table, {Value(cut)});
    const std::string itemTable = storageType_ == 2 ? itemTableAtIndex(level) : std::string();
    if (!itemTable.empty()) historyaccess::addWrite(dbpath_, sql, itemTable, {Value(cut)});
}

void StatCollector::runDatabaseQueue() {
    if (!databaseEnabled_) return;
    for (int64_t level = 1; level <= 7; ++level) removeOldSamplesAtIndex(level);
    historyaccess::commit(dbpath_);
    historyaccess::commit(dbpathLong_);
}

std::vector<Value> StatCollector::samplesFromTable(const std::string& table, const std::string& path) {
    if (table.empty() || path.empty()) return {};
    return historyaccess::query(path, withTable("SELECT * FROM %@ ORDER BY sample DESC LIMIT 603", table));
}

namespace {
// A row is written only for an interval that has ended, so a stored time after now (beyond a
// small correction of the clock) was written while the clock ran ahead, or the clock has been
// stepped back since: waiting for the clock to catch up would stop the level for that long.
bool storedAhead(double time) { return time > platform::Clock::now() + 600; }
}  // namespace

void StatCollector::loadPreviousSamplesAtIndex(int64_t level) {
    if (level < 1 || level > 8) return;
    // Level-8 rows live in the long-term file only, so its ring is refilled from there.
    const std::string& path = level == 8 ? dbpathLong_ : dbpath_;
    std::vector<Value> rows = samplesFromTable(tableAtIndex(level), path);
    sampleindexconfig& rec = storage_.level(level);
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
        // Row 0 is the empty row that marked where the level started; it never was in the
        // ring. Taken in, it would be numbered 1 and shut out the real sample 1.
        if ((*it)["sample"].doubleValue() >= 1) addSample(*it, level);
        rec.sampleID = (*it)["sample"].doubleValue();
        rec.time = (*it)["time"].doubleValue();
    }
    distrustedSampleID_[level] = 0;
    if (rec.time > 0) {
        if (storedAhead(rec.time)) {
            // Stored while the clock ran ahead: the level starts afresh at its first due time.
            // Its samples leave the ring (they would make every new, lower number look old),
            // and its numbering continues above the stored rows so that no new row collides
            // with one of them and the newest rows stay the highest numbers.
            rec.time = 0;
            distrustedSampleID_[level] = rec.sampleID;
            clearStorageForType(level);
        } else {
            rec.nextTime = rec.time + rec.interval;
        }
    }
}

void StatCollector::lastLongTermSample() {
    sampleindexconfig& rec = storage_.level(8);
    if (!dbpathLong_.empty() && !tableAtIndex(8).empty()) {
        std::vector<Value> rows =
            historyaccess::query(dbpathLong_, withTable("SELECT * FROM %@ ORDER BY sample DESC LIMIT 1", tableAtIndex(8)));
        if (!rows.empty()) {
            rec.sampleID = rows[0]["sample"].doubleValue();
            rec.time = rows[0]["time"].doubleValue();
            if (storedAhead(rec.time)) {
                // As loadPreviousSamplesAtIndex: a fresh start on the grid, numbered above.
                rec.time = 0;
                rec.nextTime = 0;
                distrustedSampleID_[8] = rec.sampleID;
                return;
            }
            rec.nextTime = rec.time + 300;
            return;
        }
    }
    rec.nextTime = std::ceil(platform::Clock::now() / 300.0) * 300.0;
}

void StatCollector::loadPreviousSamples() {
    clearAllStorages();
    for (int64_t level = 1; level <= 8; ++level) loadPreviousSamplesAtIndex(level);
    lastLongTermSample();
}

void StatCollector::loadPreviousSamplesForItem(const StatCollectorItemPtr& item, std::function<void()> reply) {
    if (!item || item->loadingHistory() || item->loadedHistory()) return;
    item->setLoadingHistory(true);
    auto outstanding = std::make_shared<int>(0);

    auto finish = [item, reply]() {
        item->setLoadingHistory(false);
        item->setLoadedHistory(true);
        if (reply) reply();
    };

    for (int64_t level = 1; level <= 8; ++level) {
        statsample* ring = item->storageForType(level);
        if (!ring) continue;
        int64_t oldest = -1;
        for (int64_t s = kSamplesPerLevel - 1; s >= 0; --s)
            if (!ring[s].empty) {
                oldest = s;
                break;
            }
        // Rows below `upper` (and from `lower` on) are read. Behind the ring's oldest sample;
        // into an empty ring, every row up to the level's newest sample number, which the
        // item would hold had it been there (after a restart its newest rows are on file only).
        // A level still at number 1 has no row yet after a first start and is not read, so
        // that a load right after a first start ends at once; after a restart the same number
        // is that of its very first row, which the collector's own ring then holds.
        double upper = 0;
        if (oldest < 0) {
            const double newest = storage_.level(level).sampleID;
            const statsample* own = storage_.ring(level);
            const bool firstRowStored = level <= 7 && newest == 1 && own && own[0].sampleID == 1;
            if (newest < 2 && !firstRowStored) continue;
            upper = storage_.level(level).sampleID + 1;
        } else {
            upper = ring[oldest].sampleID;
            if (upper == 0) upper = storage_.level(level).sampleID - 1;
        }
        const double lower = upper - double(kSamplesPerLevel - oldest);
        if (!(upper > 0)) continue;
        // Level-8 item rows are written to the long-term file.
        const std::string& path = level == 8 ? dbpathLong_ : dbpath_;
        const std::string table = itemTableAtIndex(level);
        if (path.empty() || table.empty()) continue;
        ++*outstanding;
        const std::string sql =
            withTable("SELECT * FROM %@ WHERE uuid = ? AND sample < ? AND sample >= ? ORDER BY sample ASC", table);
        bool started = historyaccess::queryAsync(
            path, sql, {Value(item->key()), Value(upper), Value(static_cast<long long>(lower))},
            [item, level, outstanding, finish](historyaccess::Rows rows) {
                std::reverse(rows.begin(), rows.end());  // newest first
                statsample* r = item->storageForType(level);
                if (r) {
                    int64_t free = 0;
                    for (int64_t s = kSamplesPerLevel - 1; s >= 0; --s)
                        if (!r[s].empty) {
                            free = s + 1;
                            break;
                        }
                    if (free < kSamplesPerLevel - 1) {
                        for (const Value& row : rows) {
                            if (free >= kSamplesPerLevel) break;
                            item->addSampleAtIndex(row, level, free);
                            ++free;
                        }
                    }
                }
                if (--*outstanding == 0) finish();
            });
        if (!started) --*outstanding;
    }
    if (*outstanding == 0) finish();
}

void StatCollector::loadPreviousSampleItemsAtIndex(int64_t level) {
    if (storageType_ != 2 || level < 1 || level > 8) return;
    const std::string& path = level == 8 ? dbpathLong_ : dbpath_;
    const std::string table = itemTableAtIndex(level);
    if (path.empty() || table.empty()) return;
    const double top = storage_.level(level).sampleID;
    const double bottom = std::max(0.0, top - kSamplesPerLevel);
    historyaccess::Rows rows = historyaccess::query(
        path, withTable("SELECT * FROM %@ WHERE sample <= ? AND sample >= ? ORDER BY sample ASC", table),
        {Value(top), Value(bottom)});
    for (const Value& row : rows) {
        StatCollectorItemPtr item = itemWithKey(row["uuid"], true);
        if (item) item->addSample(row, level);
    }
}

void StatCollector::loadPreviousSampleItems() {
    for (int64_t level = 1; level <= 8; ++level) loadPreviousSampleItemsAtIndex(level);
    for (auto& item : items_)
        if (item) item->setLoadedHistory(true);
}

}  // namespace telvo
