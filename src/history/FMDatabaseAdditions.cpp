// Single-value queries and schema questions of a connection.
#include <sqlite3.h>

#include <cctype>

#include "history/FMDatabase.h"
#include "history/HistoryLog.h"
#include "platform/values/Format.h"

namespace telvo {

namespace {
std::string lowercase(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Runs the query and reads column 0 of the first row with `read`; `fallback` without a row.
template <class T, class Read>
T firstColumn(FMDatabase& db, const std::string& sql, const ValueArray& arguments, T fallback, Read read) {
    FMResultSetPtr rs = db.executeQuery(sql, arguments);
    if (!rs) return fallback;
    T result = fallback;
    if (rs->next()) result = read(*rs);
    rs->close();
    return result;
}
}  // namespace

bool FMDatabase::tableExists(const std::string& tableName) {
    FMResultSetPtr rs = executeQuery("select [sql] from sqlite_master where [type] = 'table' and lower(name) = ?",
                                     {lowercase(tableName)});
    if (!rs) return false;
    bool found = rs->next();
    rs->close();
    return found;
}

FMResultSetPtr FMDatabase::getTableSchema(const std::string& tableName) {
    return executeQuery(format("pragma table_info('%@')", tableName));
}

bool FMDatabase::columnExists(const std::string& columnName, const std::string& tableName) {
    std::string column = lowercase(columnName);
    FMResultSetPtr rs = getTableSchema(lowercase(tableName));
    if (!rs) return false;
    bool found = false;
    while (rs->next()) {
        if (lowercase(rs->stringForColumn("name").value_or("")) == column) {
            found = true;
            break;
        }
    }
    rs->close();
    return found;
}

std::optional<std::string> FMDatabase::stringForQuery(const std::string& sql, const ValueArray& arguments) {
    return firstColumn<std::optional<std::string>>(*this, sql, arguments, std::nullopt,
                                                   [](FMResultSet& rs) { return rs.stringForColumnIndex(0); });
}

int FMDatabase::intForQuery(const std::string& sql, const ValueArray& arguments) {
    return firstColumn<int>(*this, sql, arguments, 0, [](FMResultSet& rs) { return rs.intForColumnIndex(0); });
}

long FMDatabase::longForQuery(const std::string& sql, const ValueArray& arguments) {
    return firstColumn<long>(*this, sql, arguments, 0, [](FMResultSet& rs) { return rs.longForColumnIndex(0); });
}

bool FMDatabase::boolForQuery(const std::string& sql, const ValueArray& arguments) {
    return firstColumn<bool>(*this, sql, arguments, false, [](FMResultSet& rs) { return rs.boolForColumnIndex(0); });
}

double FMDatabase::doubleForQuery(const std::string& sql, const ValueArray& arguments) {
    return firstColumn<double>(*this, sql, arguments, 0.0,
                               [](FMResultSet& rs) { return rs.doubleForColumnIndex(0); });
}

std::optional<Bytes> FMDatabase::dataForQuery(const std::string& sql, const ValueArray& arguments) {
    return firstColumn<std::optional<Bytes>>(*this, sql, arguments, std::nullopt,
                                             [](FMResultSet& rs) { return rs.dataForColumnIndex(0); });
}

std::optional<Date> FMDatabase::dateForQuery(const std::string& sql, const ValueArray& arguments) {
    return firstColumn<std::optional<Date>>(*this, sql, arguments, std::nullopt,
                                            [](FMResultSet& rs) { return rs.dateForColumnIndex(0); });
}

bool FMDatabase::validateSQL(const std::string& sql, ErrorPtr* outError) {
    if (!db_) {
        if (outError) *outError = makeError("NSCocoaErrorDomain", SQLITE_MISUSE, "The FMDatabase is not open.");
        return false;
    }
    sqlite3_stmt* pStmt = nullptr;
    int rc = sqlite3_prepare_v2(db_, sql.c_str(), -1, &pStmt, nullptr);
    bool valid = rc == SQLITE_OK;
    if (!valid && outError) *outError = makeError("NSCocoaErrorDomain", lastErrorCode(), lastErrorMessage());
    sqlite3_finalize(pStmt);
    return valid;
}

FMResultSetPtr FMDatabase::getSchema() {
    return executeQuery(
        "SELECT type, name, tbl_name, rootpage, sql FROM (SELECT * FROM sqlite_master UNION ALL SELECT * FROM "
        "sqlite_temp_master) WHERE type != 'meta' AND name NOT LIKE 'sqlite_%' ORDER BY tbl_name, type DESC, name");
}

uint32_t FMDatabase::applicationID() {
    return uint32_t(firstColumn<long long>(*this, "pragma application_id", {}, 0,
                                           [](FMResultSet& rs) { return rs.longLongIntForColumnIndex(0); }));
}

void FMDatabase::setApplicationID(uint32_t appID) {
    FMResultSetPtr rs = executeQuery(format("pragma application_id=%d", int(int32_t(appID))));
    if (rs) {
        rs->next();
        rs->close();
    }
}

std::string FMDatabase::applicationIDString() {
    uint32_t code = applicationID();
    std::string s(4, ' ');
    s[0] = char((code >> 24) & 0xff);
    s[1] = char((code >> 16) & 0xff);
    s[2] = char((code >> 8) & 0xff);
    s[3] = char(code & 0xff);
    return s;
}

void FMDatabase::setApplicationIDString(const std::string& code) {
    if (code.size() != 4)
        history::consoleLog(format("setApplicationIDString: string passed is not exactly 4 chars long. (was %ld)",
                                   long(code.size())));
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i)
        value = (value << 8) | (i < code.size() ? uint32_t(static_cast<unsigned char>(code[i])) : 0u);
    setApplicationID(value);
}

uint32_t FMDatabase::userVersion() {
    return uint32_t(firstColumn<long long>(*this, "pragma user_version", {}, 0,
                                           [](FMResultSet& rs) { return rs.longLongIntForColumnIndex(0); }));
}

void FMDatabase::setUserVersion(uint32_t version) {
    FMResultSetPtr rs = executeQuery(format("pragma user_version = %d", int(int32_t(version))));
    if (rs) {
        rs->next();
        rs->close();
    }
}

}  // namespace telvo
