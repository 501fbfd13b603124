#include "history/FMResultSet.h"

#include <sqlite3.h>

#include <cctype>

#include "history/FMDatabase.h"
#include "history/HistoryLog.h"
#include "platform/values/Format.h"

namespace telvo {

using history::consoleLog;

namespace {
std::string lowercase(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}
}  // namespace

FMResultSetPtr FMResultSet::resultSetWithStatement(const FMStatementPtr& statement,
                                                   const std::shared_ptr<FMDatabase>& parentDB) {
    if (!statement || statement->inUse()) {
        consoleLog("Invalid parameter not satisfying: ![statement inUse]");
        return nullptr;
    }
    FMResultSetPtr rs(new FMResultSet());
    rs->statement_ = statement;
    rs->parentDB_ = parentDB;
    statement->setInUse(true);
    return rs;
}

FMResultSet::~FMResultSet() {
    close();
}

void FMResultSet::close() {
    if (statement_) {
        statement_->reset();
        statement_.reset();
    }
    if (parentDB_) {
        // Drop our reference last: it may be the connection's last owner.
        std::shared_ptr<FMDatabase> db = std::move(parentDB_);
        parentDB_.reset();
        db->resultSetDidClose(this);
    }
}

bool FMResultSet::next() {
    return nextWithError(nullptr);
}

bool FMResultSet::nextWithError(ErrorPtr* outError) {
    sqlite3_stmt* pStmt = statement_ ? statement_->statement() : nullptr;
    if (!pStmt) {
        // Stepping a closed result set is a misuse; SQLite would answer 21 for it.
        consoleLog(format("Error calling sqlite3_step (%d: %s) rs", SQLITE_MISUSE, sqlite3_errstr(SQLITE_MISUSE)));
        if (outError) {
            *outError = parentDB_ ? parentDB_->lastError()
                                  : makeError("FMDatabase", SQLITE_MISUSE, "parentDB does not exist");
        }
        return false;
    }
    int rc = sqlite3_step(pStmt);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) {
        close();
        return false;
    }
    sqlite3* handle = parentDB_ ? parentDB_->sqliteHandle() : nullptr;
    const char* message = handle ? sqlite3_errmsg(handle) : sqlite3_errstr(rc);
    if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) {
        std::string path = parentDB_ && parentDB_->databasePath() ? *parentDB_->databasePath() : "(null)";
        consoleLog(format("%s:%d Database busy (%@)", "-[FMResultSet nextWithError:]", 164, path));
        consoleLog("Database busy");
    } else if (rc == SQLITE_ERROR || rc == SQLITE_MISUSE) {
        consoleLog(format("Error calling sqlite3_step (%d: %s) rs", rc, message));
    } else {
        consoleLog(format("Unknown error calling sqlite3_step (%d: %s) rs", rc, message));
    }
    if (outError) {
        *outError = parentDB_ ? parentDB_->lastError() : makeError("FMDatabase", rc, message);
    }
    close();
    return false;
}

bool FMResultSet::hasAnotherRow() const {
    return parentDB_ && parentDB_->lastErrorCode() == SQLITE_ROW;
}

int FMResultSet::columnCount() const {
    return statement_ && statement_->statement() ? sqlite3_column_count(statement_->statement()) : 0;
}

const std::map<std::string, int>& FMResultSet::columnNameToIndexMap() {
    if (!columnNameToIndexMap_) {
        columnNameToIndexMap_.emplace();
        int count = columnCount();
        for (int i = 0; i < count; ++i) (*columnNameToIndexMap_)[lowercase(columnNameForIndex(i))] = i;
    }
    return *columnNameToIndexMap_;
}

int FMResultSet::columnIndexForName(const std::string& columnName) {
    const auto& map = columnNameToIndexMap();
    auto it = map.find(lowercase(columnName));
    if (it != map.end()) return it->second;
    consoleLog(format("Warning: I could not find the column named '%@'.", columnName));
    return -1;
}

std::string FMResultSet::columnNameForIndex(int columnIndex) const {
    if (!statement_ || !statement_->statement()) return {};
    const char* name = sqlite3_column_name(statement_->statement(), columnIndex);
    return name ? name : "";
}

// Readers answer zero values on a closed result set or a column out of range.
#define TELVO_STMT_OR(fallback)                                          \
    sqlite3_stmt* pStmt = statement_ ? statement_->statement() : nullptr; \
    if (!pStmt || columnIndex < 0 || columnIndex >= sqlite3_column_count(pStmt)) return fallback

int FMResultSet::intForColumnIndex(int columnIndex) const {
    TELVO_STMT_OR(0);
    return sqlite3_column_int(pStmt, columnIndex);
}

long FMResultSet::longForColumnIndex(int columnIndex) const {
    TELVO_STMT_OR(0);
    return long(sqlite3_column_int64(pStmt, columnIndex));
}

long long FMResultSet::longLongIntForColumnIndex(int columnIndex) const {
    TELVO_STMT_OR(0);
    return sqlite3_column_int64(pStmt, columnIndex);
}

unsigned long long FMResultSet::unsignedLongLongIntForColumnIndex(int columnIndex) const {
    return static_cast<unsigned long long>(longLongIntForColumnIndex(columnIndex));
}

bool FMResultSet::boolForColumnIndex(int columnIndex) const {
    return intForColumnIndex(columnIndex) != 0;
}

double FMResultSet::doubleForColumnIndex(int columnIndex) const {
    TELVO_STMT_OR(0.0);
    return sqlite3_column_double(pStmt, columnIndex);
}

std::optional<std::string> FMResultSet::stringForColumnIndex(int columnIndex) const {
    TELVO_STMT_OR(std::nullopt);
    if (sqlite3_column_type(pStmt, columnIndex) == SQLITE_NULL) return std::nullopt;
    const unsigned char* text = sqlite3_column_text(pStmt, columnIndex);
    if (!text) return std::nullopt;
    return std::string(reinterpret_cast<const char*>(text), size_t(sqlite3_column_bytes(pStmt, columnIndex)));
}

const char* FMResultSet::UTF8StringForColumnIndex(int columnIndex) const {
    TELVO_STMT_OR(nullptr);
    if (sqlite3_column_type(pStmt, columnIndex) == SQLITE_NULL) return nullptr;
    return reinterpret_cast<const char*>(sqlite3_column_text(pStmt, columnIndex));
}

std::optional<Bytes> FMResultSet::dataForColumnIndex(int columnIndex) const {
    std::optional<std::string_view> bytes = dataNoCopyForColumnIndex(columnIndex);
    if (!bytes) return std::nullopt;
    return Bytes(bytes->begin(), bytes->end());
}

std::optional<std::string_view> FMResultSet::dataNoCopyForColumnIndex(int columnIndex) const {
    TELVO_STMT_OR(std::nullopt);
    if (sqlite3_column_type(pStmt, columnIndex) == SQLITE_NULL) return std::nullopt;
    const void* blob = sqlite3_column_blob(pStmt, columnIndex);
    if (!blob) return std::nullopt;
    return std::string_view(static_cast<const char*>(blob), size_t(sqlite3_column_bytes(pStmt, columnIndex)));
}

std::optional<Date> FMResultSet::dateForColumnIndex(int columnIndex) const {
    TELVO_STMT_OR(std::nullopt);
    if (sqlite3_column_type(pStmt, columnIndex) == SQLITE_NULL) return std::nullopt;
    if (parentDB_ && parentDB_->hasDateFormatter()) {
        std::optional<std::string> text = stringForColumnIndex(columnIndex);
        return text ? parentDB_->dateFromString(*text) : std::nullopt;
    }
    return Date{sqlite3_column_double(pStmt, columnIndex)};
}

bool FMResultSet::columnIndexIsNull(int columnIndex) const {
    TELVO_STMT_OR(false);
    return sqlite3_column_type(pStmt, columnIndex) == SQLITE_NULL;
}

Value FMResultSet::objectForColumnIndex(int columnIndex) const {
    TELVO_STMT_OR(Value());
    switch (sqlite3_column_type(pStmt, columnIndex)) {
        case SQLITE_INTEGER:
            return Value(static_cast<long long>(sqlite3_column_int64(pStmt, columnIndex)));
        case SQLITE_FLOAT:
            return Value(sqlite3_column_double(pStmt, columnIndex));
        case SQLITE_BLOB: {
            std::optional<Bytes> data = dataForColumnIndex(columnIndex);
            return data ? Value(std::move(*data)) : Value();
        }
        default: {
            std::optional<std::string> text = stringForColumnIndex(columnIndex);
            return text ? Value(std::move(*text)) : Value();
        }
    }
}

#undef TELVO_STMT_OR

int FMResultSet::intForColumn(const std::string& n) { return intForColumnIndex(columnIndexForName(n)); }
long FMResultSet::longForColumn(const std::string& n) { return longForColumnIndex(columnIndexForName(n)); }
long long FMResultSet::longLongIntForColumn(const std::string& n) {
    return longLongIntForColumnIndex(columnIndexForName(n));
}
unsigned long long FMResultSet::unsignedLongLongIntForColumn(const std::string& n) {
    return unsignedLongLongIntForColumnIndex(columnIndexForName(n));
}
bool FMResultSet::boolForColumn(const std::string& n) { return boolForColumnIndex(columnIndexForName(n)); }
double FMResultSet::doubleForColumn(const std::string& n) { return doubleForColumnIndex(columnIndexForName(n)); }
std::optional<std::string> FMResultSet::stringForColumn(const std::string& n) {
    return stringForColumnIndex(columnIndexForName(n));
}
const char* FMResultSet::UTF8StringForColumn(const std::string& n) {
    return UTF8StringForColumnIndex(columnIndexForName(n));
}
std::optional<Bytes> FMResultSet::dataForColumn(const std::string& n) {
    return dataForColumnIndex(columnIndexForName(n));
}
std::optional<std::string_view> FMResultSet::dataNoCopyForColumn(const std::string& n) {
    return dataNoCopyForColumnIndex(columnIndexForName(n));
}
std::optional<Date> FMResultSet::dateForColumn(const std::string& n) {
    return dateForColumnIndex(columnIndexForName(n));
}
bool FMResultSet::columnIsNull(const std::string& n) { return columnIndexIsNull(columnIndexForName(n)); }
Value FMResultSet::objectForColumnName(const std::string& n) { return objectForColumnIndex(columnIndexForName(n)); }

Value FMResultSet::resultDictionary() const {
    sqlite3_stmt* pStmt = statement_ ? statement_->statement() : nullptr;
    if (!pStmt || sqlite3_data_count(pStmt) == 0) {
        consoleLog("Warning: There seem to be no columns in this set.");
        return Value();
    }
    ValueDictionary dictionary;
    int count = sqlite3_column_count(pStmt);
    for (int i = 0; i < count; ++i) dictionary[columnNameForIndex(i)] = objectForColumnIndex(i);
    return Value(std::move(dictionary));
}

Value FMResultSet::resultDict() {
    sqlite3_stmt* pStmt = statement_ ? statement_->statement() : nullptr;
    if (!pStmt || sqlite3_data_count(pStmt) == 0) {
        consoleLog("Warning: There seem to be no columns in this set.");
        return Value();
    }
    ValueDictionary dictionary;
    for (const auto& [name, index] : columnNameToIndexMap()) dictionary[name] = objectForColumnIndex(index);
    return Value(std::move(dictionary));
}

}  // namespace telvo
