#include "collectors/framework/HistoryAccess.h"

#include "history/HistoryDatabaseController.h"
#include "platform/dispatch/Queue.h"

namespace telvo::historyaccess {

namespace {
HistoryDatabaseItemPtr item(const std::string& path) {
    if (path.empty()) return nullptr;
    return databaseItemWithPath(path);
}

Rows readRows(const FMDatabasePtr& db, const std::string& sql, const ValueArray& args) {
    Rows rows;
    if (!db) return rows;
    FMResultSetPtr rs = db->executeQuery(sql, args);
    if (!rs) return rows;
    while (rs->next()) rows.push_back(rs->resultDictionary());
    rs->close();
    return rows;
}
}  // namespace

bool tableExists(const std::string& path, const std::string& table) {
    auto file = item(path);
    if (!file) return false;
    bool exists = false;
    file->queryDatabase([&](const FMDatabasePtr& db) { exists = db && db->tableExists(table); });
    return exists;
}

bool execute(const std::string& path, const std::string& sql, const ValueArray& args) {
    auto file = item(path);
    if (!file) return false;
    bool ok = false;
    file->queryDatabase([&](const FMDatabasePtr& db) { ok = db && db->executeUpdate(sql, args); });
    return ok;
}

Rows query(const std::string& path, const std::string& sql, const ValueArray& args) {
    auto file = item(path);
    Rows rows;
    if (!file) return rows;
    file->queryDatabase([&](const FMDatabasePtr& db) { rows = readRows(db, sql, args); });
    return rows;
}

bool queryAsync(const std::string& path, const std::string& sql, const ValueArray& args,
                std::function<void(Rows)> done) {
    auto file = item(path);
    if (!file) return false;
    file->queryDatabaseAsync([sql, args, done = std::move(done)](const FMDatabasePtr& db) {
        auto rows = std::make_shared<Rows>(readRows(db, sql, args));
        dispatch::Queue::main()->async([done, rows] { done(std::move(*rows)); });
    });
    return true;
}

void addWrite(const std::string& path, const std::string& format, const std::string& table, const ValueArray& args,
              std::optional<double> sample) {
    auto file = item(path);
    if (!file) return;
    file->addItem(HistoryWriteRecord{format, table, args, sample});
}

void commit(const std::string& path) {
    if (auto file = item(path)) file->commit();
}

}  // namespace telvo::historyaccess
