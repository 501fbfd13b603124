#include "history/FMDatabase.h"

#include <sqlite3.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <random>

#include "history/HistoryLog.h"
#include "platform/fs/Root.h"
#include "platform/time/Clock.h"
#include "platform/values/Format.h"

namespace telvo {

using history::consoleLog;
using history::historyLog;

namespace {

std::mutex& sleeperMutex() {
    static std::mutex m;
    return m;
}
std::function<void(int)>& busySleeper() {
    static std::function<void(int)> s;
    return s;
}

void busySleep(int milliseconds) {
    std::function<void(int)> sleeper;
    {
        std::lock_guard<std::mutex> lock(sleeperMutex());
        sleeper = busySleeper();
    }
    if (sleeper)
        sleeper(milliseconds);
    else
        sqlite3_sleep(milliseconds);
}

int randomBelow(int bound) {
    thread_local std::mt19937 generator{std::random_device{}()};
    return std::uniform_int_distribution<int>(0, bound - 1)(generator);
}

[[noreturn]] void crash(const std::string& message) {
    historyLog(message);
    std::fprintf(stderr, "%s\n", message.c_str());
    std::abort();
}

// Doubles every "'" so that a name can stand inside a quoted SQL literal.
std::string escapeSavePointName(const std::string& name) {
    std::string out;
    for (char c : name) {
        out += c;
        if (c == '\'') out += '\'';
    }
    return out;
}

// Turns every printf conversion of `format` into "?" ("%%" stays a literal "%").
std::string placeholdersFromFormat(const std::string& format) {
    std::string out;
    for (size_t i = 0; i < format.size(); ++i) {
        char c = format[i];
        if (c != '%') {
            out += c;
            continue;
        }
        if (i + 1 < format.size() && format[i + 1] == '%') {
            out += '%';
            ++i;
            continue;
        }
        // Skip flags, width, precision and length up to the conversion character.
        size_t j = i + 1;
        while (j < format.size() && std::string_view("-+ #0123456789.hlqLzjt").find(format[j]) != std::string_view::npos) ++j;
        out += '?';
        i = j < format.size() ? j : format.size() - 1;
    }
    return out;
}

}  // namespace

FMDatabasePtr FMDatabase::databaseWithPath(const std::optional<std::string>& path) {
    return std::make_shared<FMDatabase>(path);
}

FMDatabase::FMDatabase(const std::optional<std::string>& path) : databasePath_(path) {
    if (!sqlite3_threadsafe()) crash("Invalid parameter not satisfying: [self class] isSQLiteThreadSafe");
}

FMDatabase::~FMDatabase() {
    close();
}

std::string FMDatabase::description() const {
    char object[64];
    std::snprintf(object, sizeof object, "<FMDatabase: %p>", static_cast<const void*>(this));
    return object;
}

std::string FMDatabase::sqlitePath() const {
    if (!databasePath_) return ":memory:";
    if (databasePath_->empty()) return "";
    return fs::resolve(*databasePath_);
}

// ---------------------------------------------------------------- open and close

// What sqlite3_open() does: read and write, created when missing, the default file system.
bool FMDatabase::open() { return openWithFlags(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE); }

bool FMDatabase::openWithFlags(int flags, const std::optional<std::string>& vfs) {
    if (db_) return true;
    int err = sqlite3_open_v2(sqlitePath().c_str(), &db_, flags, vfs ? vfs->c_str() : nullptr);
    if (err != SQLITE_OK) {
        historyLog(format("error opening!: %d", err));
        // SQLite may hand back a handle even on failure; it is of no use, so let it go.
        if (db_) sqlite3_close(db_);
        db_ = nullptr;
        return false;
    }
    if (maxBusyRetryTimeInterval_ > 0.0) installBusyHandler();
    return true;
}

bool FMDatabase::close() {
    clearCachedStatements();
    closeOpenResultSets();
    if (!db_) return true;
    bool retry;
    bool triedFinalizingOpenStatements = false;
    do {
        retry = false;
        int rc = sqlite3_close(db_);
        if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) {
            if (!triedFinalizingOpenStatements) {
                triedFinalizingOpenStatements = true;
                sqlite3_stmt* pStmt;
                while ((pStmt = sqlite3_next_stmt(db_, nullptr)) != nullptr) {
                    historyLog("Closing leaked statement");
                    sqlite3_finalize(pStmt);
                    retry = true;
                }
            }
        } else if (rc != SQLITE_OK) {
            historyLog(format("error closing!: %d", rc));
        }
    } while (retry);
    db_ = nullptr;
    inTransaction_ = false;
    return true;
}

bool FMDatabase::goodConnection() {
    if (!db_) return false;
    FMResultSetPtr rs = executeQuery("select name from sqlite_master where type='table'");
    if (rs) {
        rs->close();
        return true;
    }
    return false;
}

bool FMDatabase::databaseExists() {
    if (!db_) {
        historyLog(format("The FMDatabase %@ is not open.", description()));
        if (crashOnErrors_) crash("The FMDatabase is not open.");
        return false;
    }
    return true;
}

// ---------------------------------------------------------------- flags and busy handling

void FMDatabase::setShouldCacheStatements(bool value) {
    shouldCacheStatements_ = value;
    if (value && !cachedStatements_) cachedStatements_.emplace();
    if (!value) cachedStatements_.reset();
}

void FMDatabase::setMaxBusyRetryTimeInterval(double seconds) {
    maxBusyRetryTimeInterval_ = seconds;
    if (!db_) return;
    if (seconds > 0)
        installBusyHandler();
    else
        sqlite3_busy_handler(db_, nullptr, nullptr);
}

void FMDatabase::installBusyHandler() {
    sqlite3_busy_handler(db_, &FMDatabase::busyHandler, this);
}

int FMDatabase::busyHandler(void* context, int count) {
    FMDatabase* self = static_cast<FMDatabase*>(context);
    if (count == 0) {
        self->startBusyRetryTime_ = platform::Clock::monotonic();
        return 1;
    }
    double delta = platform::Clock::monotonic() - self->startBusyRetryTime_;
    if (delta < self->maxBusyRetryTimeInterval_) {
        busySleep(50 + randomBelow(50));
        return 1;
    }
    return 0;
}

void FMDatabase::setBusySleepForTesting(std::function<void(int)> sleeper) {
    std::lock_guard<std::mutex> lock(sleeperMutex());
    busySleeper() = std::move(sleeper);
}

int FMDatabase::busyRetryTimeout() {
    historyLog(format("%s:%d", "-[FMDatabase busyRetryTimeout]", __LINE__));
    historyLog("FMDB: busyRetryTimeout no longer works, please use maxBusyRetryTimeInterval");
    return -1;
}

void FMDatabase::setBusyRetryTimeout(int) {
    historyLog(format("%s:%d", "-[FMDatabase setBusyRetryTimeout:]", __LINE__));
    historyLog("FMDB: setBusyRetryTimeout does nothing, please use setMaxBusyRetryTimeInterval:");
}

// ---------------------------------------------------------------- statement cache

FMStatementPtr FMDatabase::cachedStatementForQuery(const std::string& sql) {
    if (!cachedStatements_) return nullptr;
    auto it = cachedStatements_->find(sql);
    if (it == cachedStatements_->end()) return nullptr;
    for (const FMStatementPtr& statement : it->second) {
        if (!statement->inUse() && statement->statement()) {
            statement->reset();
            return statement;
        }
    }
    return nullptr;
}

void FMDatabase::setCachedStatement(const FMStatementPtr& statement, const std::string& sql) {
    if (!cachedStatements_) return;
    statement->setQuery(sql);
    (*cachedStatements_)[sql].push_back(statement);
}

void FMDatabase::removeCachedStatement(const FMStatementPtr& statement) {
    if (!cachedStatements_) return;
    auto it = cachedStatements_->find(statement->query());
    if (it == cachedStatements_->end()) return;
    auto& list = it->second;
    for (auto s = list.begin(); s != list.end(); ++s) {
        if (*s == statement) {
            list.erase(s);
            break;
        }
    }
    if (list.empty()) cachedStatements_->erase(it);
}

std::vector<FMStatementPtr> FMDatabase::cachedStatementsForQuery(const std::string& sql) const {
    if (!cachedStatements_) return {};
    auto it = cachedStatements_->find(sql);
    return it == cachedStatements_->end() ? std::vector<FMStatementPtr>{} : it->second;
}

void FMDatabase::clearCachedStatements() {
    if (!cachedStatements_) return;
    for (auto& [sql, list] : *cachedStatements_)
        for (const FMStatementPtr& statement : list) statement->close();
    cachedStatements_->clear();
}

void FMDatabase::closeOpenResultSets() {
    // Closing a result set drops its reference to us; keep ourselves alive meanwhile.
    std::shared_ptr<FMDatabase> self = weak_from_this().lock();
    std::set<FMResultSet*> sets;
    sets.swap(openResultSets_);
    for (FMResultSet* rs : sets) rs->close();
}

void FMDatabase::resultSetDidClose(FMResultSet* resultSet) {
    openResultSets_.erase(resultSet);
}

// ---------------------------------------------------------------- binding

void FMDatabase::bindObject(const Value& object, int column, sqlite3_stmt* statement) {
    switch (object.type()) {
        case Value::Type::Null:
            sqlite3_bind_null(statement, column);
            break;
        case Value::Type::Data: {
            const Bytes& bytes = object.bytes();
            // An empty data is a zero-length blob, not NULL: SQLite binds NULL for a null
            // pointer, so hand it a valid one.
            static const uint8_t empty = 0;
            const void* p = bytes.empty() ? static_cast<const void*>(&empty) : bytes.data();
            sqlite3_bind_blob(statement, column, p, int(bytes.size()), SQLITE_TRANSIENT);
            break;
        }
        case Value::Type::Date:
            if (dateFormat_) {
                std::string text = stringFromDate(object.date());
                sqlite3_bind_text(statement, column, text.c_str(), int(text.size()), SQLITE_TRANSIENT);
            } else {
                sqlite3_bind_double(statement, column, object.date().seconds);
            }
            break;
        case Value::Type::Boolean:
            sqlite3_bind_int(statement, column, object.boolValue() ? 1 : 0);
            break;
        case Value::Type::Integer:
            sqlite3_bind_int64(statement, column, object.intValue());
            break;
        case Value::Type::Double:
            sqlite3_bind_double(statement, column, object.doubleValue());
            break;
        case Value::Type::String: {
            const std::string& s = object.string();
            sqlite3_bind_text(statement, column, s.c_str(), int(s.size()), SQLITE_TRANSIENT);
            break;
        }
        default: {
            std::string s = object.description();
            sqlite3_bind_text(statement, column, s.c_str(), int(s.size()), SQLITE_TRANSIENT);
            break;
        }
    }
}

// ---------------------------------------------------------------- running statements

FMDatabase::BusyScope FMDatabase::startStatement(const char* caller, const std::string& sql) {
    if (!databaseExists() || !beginStatement()) return BusyScope();
    BusyScope busy(&isExecutingStatement_);
    if (traceExecution_) historyLog(format(std::string("%@ ") + caller + ": %@", description(), sql));
    return busy;
}

bool FMDatabase::beginStatement() {
    if (!isExecutingStatement_) return true;
    historyLog(format("The FMDatabase %@ is currently in use.", description()));
    if (crashOnErrors_) crash("The FMDatabase is currently in use.");
    return false;
}

sqlite3_stmt* FMDatabase::preparedStatement(const std::string& sql, FMStatementPtr& cached, ErrorPtr* outError) {
    sqlite3_stmt* pStmt = nullptr;
    if (shouldCacheStatements_) {
        cached = cachedStatementForQuery(sql);
        pStmt = cached ? cached->statement() : nullptr;
    }
    if (pStmt) return pStmt;
    int rc = sqlite3_prepare_v2(db_, sql.c_str(), -1, &pStmt, nullptr);
    if (rc == SQLITE_OK) return pStmt;
    if (logsErrors_) {
        historyLog(format("DB Error: %d \"%@\"", lastErrorCode(), lastErrorMessage()));
        historyLog(format("DB Query: %@", sql));
        historyLog(format("DB Path: %@", databasePath_ ? *databasePath_ : std::string("(null)")));
    }
    if (crashOnErrors_) crash("DB Error: prepare failed");
    sqlite3_finalize(pStmt);
    if (outError) *outError = errorWithMessage(lastErrorMessage());
    return nullptr;
}

int FMDatabase::bindArguments(sqlite3_stmt* pStmt, const ValueArray* array, const ValueDictionary* dictionary,
                              bool alwaysLogMissingNames, ErrorPtr* outError) {
    const int queryCount = sqlite3_bind_parameter_count(pStmt);
    int idx = 0;
    if (dictionary) {
        for (const auto& [key, object] : *dictionary) {
            std::string parameterName = ":" + key;
            if (traceExecution_) historyLog(format("%@ = %@", parameterName, object));
            int namedIdx = sqlite3_bind_parameter_index(pStmt, parameterName.c_str());
            if (namedIdx > 0) {
                bindObject(object, namedIdx, pStmt);
                ++idx;
            } else {
                std::string message = format("Could not find index for %@", key);
                if (logsErrors_ || alwaysLogMissingNames) historyLog(message);
                if (outError) *outError = errorWithMessage(message);
            }
        }
    } else if (array) {
        while (idx < queryCount && size_t(idx) < array->size()) {
            const Value& object = (*array)[size_t(idx)];
            if (traceExecution_) {
                if (object.isData())
                    historyLog(format("data: %ld bytes", long(object.count())));
                else
                    historyLog(format("obj: %@", object));
            }
            ++idx;
            bindObject(object, idx, pStmt);
        }
    }
    return idx;
}

void FMDatabase::discardStatement(const FMStatementPtr& cached, sqlite3_stmt* pStmt) {
    if (cached) {
        // The finalized statement must never be handed out again.
        removeCachedStatement(cached);
        cached->close();
    } else {
        sqlite3_finalize(pStmt);
    }
}

FMStatementPtr FMDatabase::keepStatement(sqlite3_stmt* pStmt, const std::string& sql) {
    auto statement = std::make_shared<FMStatement>(pStmt);
    if (shouldCacheStatements_) setCachedStatement(statement, sql);
    return statement;
}

FMResultSetPtr FMDatabase::executeQueryCore(const std::string& sql, const ValueArray* array,
                                            const ValueDictionary* dictionary) {
    const BusyScope busy = startStatement("executeQuery", sql);
    if (!busy) return nullptr;

    FMStatementPtr statement;
    sqlite3_stmt* pStmt = preparedStatement(sql, statement, nullptr);
    if (!pStmt) return nullptr;

    const int queryCount = sqlite3_bind_parameter_count(pStmt);
    // The query's and the update's bind-count failures differ in their text, their logging and
    // their error, so each reports its own.
    if (bindArguments(pStmt, array, dictionary, true, nullptr) != queryCount) {
        historyLog("Error: the bind count is not correct for the # of variables (executeQuery)");
        discardStatement(statement, pStmt);
        return nullptr;
    }

    // A result set always needs its statement wrapped; an update wraps only to cache it.
    if (!statement) statement = keepStatement(pStmt, sql);
    FMResultSetPtr rs = FMResultSet::resultSetWithStatement(statement, shared_from_this());
    rs->setQuery(sql);
    openResultSets_.insert(rs.get());
    statement->setUseCount(statement->useCount() + 1);
    return rs;
}

bool FMDatabase::executeUpdateCore(const std::string& sql, ErrorPtr* outError, const ValueArray* array,
                                   const ValueDictionary* dictionary) {
    const BusyScope busy = startStatement("executeUpdate", sql);
    if (!busy) return false;

    FMStatementPtr cachedStmt;
    sqlite3_stmt* pStmt = preparedStatement(sql, cachedStmt, outError);
    if (!pStmt) return false;

    const int queryCount = sqlite3_bind_parameter_count(pStmt);
    const int idx = bindArguments(pStmt, array, dictionary, false, outError);
    if (idx != queryCount) {
        std::string message =
            format("Error: the bind count (%d) is not correct for the # of variables in the query (%d) (%@) (executeUpdate)",
                   idx, queryCount, sql);
        if (logsErrors_) historyLog(message);
        if (outError) *outError = errorWithMessage(message);
        discardStatement(cachedStmt, pStmt);
        return false;
    }

    int rc = sqlite3_step(pStmt);
    if (rc == SQLITE_DONE) {
        // success
    } else if (rc == SQLITE_ROW) {
        std::string message = format("A executeUpdate is being called with a query string '%@'", sql);
        if (logsErrors_) {
            historyLog(message);
            historyLog(format("DB Query: %@", sql));
        }
        if (outError) *outError = errorWithMessage(message);
    } else {
        if (outError) *outError = errorWithMessage(lastErrorMessage());
        if (logsErrors_) {
            if (rc == SQLITE_ERROR)
                historyLog(format("Error calling sqlite3_step (%d: %s) SQLITE_ERROR", rc, sqlite3_errmsg(db_)));
            else if (rc == SQLITE_MISUSE)
                historyLog(format("Error calling sqlite3_step (%d: %s) SQLITE_MISUSE", rc, sqlite3_errmsg(db_)));
            else
                historyLog(format("Unknown error calling sqlite3_step (%d: %s) eu", rc, sqlite3_errmsg(db_)));
            historyLog(format("DB Query: %@", sql));
        }
    }

    if (shouldCacheStatements_ && !cachedStmt) cachedStmt = keepStatement(pStmt, sql);
    int closeErrorCode;
    if (cachedStmt) {
        cachedStmt->setUseCount(cachedStmt->useCount() + 1);
        closeErrorCode = sqlite3_reset(pStmt);
    } else {
        closeErrorCode = sqlite3_finalize(pStmt);
    }
    // A failed step answers its own code again from reset; only report a new failure.
    if (closeErrorCode != SQLITE_OK && rc == SQLITE_DONE && logsErrors_) {
        historyLog(format("Unknown error finalizing or resetting statement (%d: %s)", closeErrorCode,
                          sqlite3_errmsg(db_)));
        historyLog(format("DB Query: %@", sql));
    }
    return rc == SQLITE_DONE || rc == SQLITE_OK;
}

bool FMDatabase::executeUpdate(const std::string& sql, const ValueArray& arguments) {
    return executeUpdateCore(sql, nullptr, &arguments, nullptr);
}

bool FMDatabase::executeUpdateWithArgumentsInArray(const std::string& sql, const ValueArray& arguments) {
    return executeUpdateCore(sql, nullptr, &arguments, nullptr);
}

bool FMDatabase::executeUpdateWithParameterDictionary(const std::string& sql, const ValueDictionary& arguments) {
    return executeUpdateCore(sql, nullptr, nullptr, &arguments);
}

bool FMDatabase::executeUpdate(const std::string& sql, const ValueArray& values, ErrorPtr* outError) {
    return executeUpdateCore(sql, outError, &values, nullptr);
}

bool FMDatabase::executeUpdateWithFormat(const std::string& fmt, const ValueArray& arguments) {
    return executeUpdateCore(placeholdersFromFormat(fmt), nullptr, &arguments, nullptr);
}

FMResultSetPtr FMDatabase::executeQuery(const std::string& sql, const ValueArray& arguments) {
    return executeQueryCore(sql, &arguments, nullptr);
}

FMResultSetPtr FMDatabase::executeQueryWithArgumentsInArray(const std::string& sql, const ValueArray& arguments) {
    return executeQueryCore(sql, &arguments, nullptr);
}

FMResultSetPtr FMDatabase::executeQueryWithParameterDictionary(const std::string& sql,
                                                               const ValueDictionary& arguments) {
    return executeQueryCore(sql, nullptr, &arguments);
}

FMResultSetPtr FMDatabase::executeQuery(const std::string& sql, const ValueArray& values, ErrorPtr* outError) {
    FMResultSetPtr rs = executeQueryCore(sql, &values, nullptr);
    if (!rs && outError) *outError = lastError();
    return rs;
}

FMResultSetPtr FMDatabase::executeQueryWithFormat(const std::string& fmt, const ValueArray& arguments) {
    return executeQueryCore(placeholdersFromFormat(fmt), &arguments, nullptr);
}

namespace {
struct ExecContext {
    const FMDatabase::StatementsResultBlock* block;
};
int execCallback(void* context, int columns, char** values, char** names) {
    auto* c = static_cast<ExecContext*>(context);
    if (!c->block || !*c->block) return 0;
    ValueDictionary row;
    for (int i = 0; i < columns; ++i) row[names[i]] = values[i] ? Value(values[i]) : Value();
    return (*c->block)(row);
}
}  // namespace

bool FMDatabase::executeStatements(const std::string& sql) {
    return executeStatements(sql, nullptr);
}

bool FMDatabase::executeStatements(const std::string& sql, const StatementsResultBlock& block) {
    if (!databaseExists()) return false;
    char* errmsg = nullptr;
    ExecContext context{&block};
    int rc = sqlite3_exec(db_, sql.c_str(), block ? &execCallback : nullptr, &context, &errmsg);
    if (errmsg) {
        if (logsErrors_) historyLog(format("Error inserting batch: %s", errmsg));
        sqlite3_free(errmsg);
    }
    return rc == SQLITE_OK;
}

// ---------------------------------------------------------------- transactions

bool FMDatabase::transactionStatement(const char* sql, bool inTransactionAfter) {
    const bool b = executeUpdate(sql);
    if (b) inTransaction_ = inTransactionAfter;
    return b;
}

bool FMDatabase::beginTransaction() { return transactionStatement("begin exclusive transaction", true); }

bool FMDatabase::beginDeferredTransaction() { return transactionStatement("begin deferred transaction", true); }

bool FMDatabase::commit() { return transactionStatement("commit transaction", false); }

bool FMDatabase::rollback() { return transactionStatement("rollback transaction", false); }

bool FMDatabase::savePointStatement(const std::string& text, ErrorPtr* outError) {
    return executeUpdateCore(text, outError, nullptr, nullptr);
}

bool FMDatabase::startSavePointWithName(const std::string& name, ErrorPtr* outError) {
    return savePointStatement("savepoint '" + escapeSavePointName(name) + "';", outError);
}

bool FMDatabase::releaseSavePointWithName(const std::string& name, ErrorPtr* outError) {
    return savePointStatement("release savepoint '" + escapeSavePointName(name) + "';", outError);
}

bool FMDatabase::rollbackToSavePointWithName(const std::string& name, ErrorPtr* outError) {
    return savePointStatement("rollback transaction to savepoint '" + escapeSavePointName(name) + "';", outError);
}

ErrorPtr FMDatabase::inSavePoint(const std::function<void(bool*)>& block) {
    static std::atomic<long> savePointIdx{0};
    std::string name = format("dbSavePoint%ld", long(savePointIdx++));
    bool shouldRollback = false;
    ErrorPtr err;
    if (!startSavePointWithName(name, &err)) return err;
    if (block) block(&shouldRollback);
    if (shouldRollback) rollbackToSavePointWithName(name, &err);
    releaseSavePointWithName(name, &err);
    return err;
}

// ---------------------------------------------------------------- errors and counters

std::string FMDatabase::lastErrorMessage() const {
    return db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(SQLITE_MISUSE);
}

int FMDatabase::lastErrorCode() const {
    return db_ ? sqlite3_errcode(db_) : SQLITE_MISUSE;
}

bool FMDatabase::hadError() const {
    int code = lastErrorCode();
    return code > SQLITE_OK && code < SQLITE_ROW;
}

ErrorPtr FMDatabase::lastError() const {
    return makeError("FMDatabase", lastErrorCode(), lastErrorMessage());
}

ErrorPtr FMDatabase::errorWithMessage(const std::string& message) const {
    return makeError("FMDatabase", lastErrorCode(), message);
}

int64_t FMDatabase::lastInsertRowId() {
    if (isExecutingStatement_ || !db_) {
        if (isExecutingStatement_) historyLog(format("The FMDatabase %@ is currently in use.", description()));
        return 0;
    }
    isExecutingStatement_ = true;
    int64_t ret = sqlite3_last_insert_rowid(db_);
    isExecutingStatement_ = false;
    return ret;
}

int FMDatabase::changes() {
    if (isExecutingStatement_ || !db_) {
        if (isExecutingStatement_) historyLog(format("The FMDatabase %@ is currently in use.", description()));
        return 0;
    }
    isExecutingStatement_ = true;
    int ret = sqlite3_changes(db_);
    isExecutingStatement_ = false;
    return ret;
}

// ---------------------------------------------------------------- dates

LogDateFormatterPtr FMDatabase::storeableDateFormat(const std::string& format) {
    return std::make_shared<const LogDateFormatter>(format, true);
}

std::optional<Date> FMDatabase::dateFromString(const std::string& text) const {
    if (!dateFormat_) return std::nullopt;
    std::optional<double> seconds = dateFormat_->dateFromString(text);
    if (!seconds) return std::nullopt;
    return Date{*seconds};
}

std::string FMDatabase::stringFromDate(Date date) const {
    return dateFormat_ ? dateFormat_->stringFromDate(date.seconds) : std::string();
}

// ---------------------------------------------------------------- extras

namespace {
void functionTrampoline(sqlite3_context* context, int argc, sqlite3_value** argv) {
    auto* block = static_cast<FMDatabase::SQLFunctionBlock*>(sqlite3_user_data(context));
    if (block && *block) (*block)(context, argc, argv);
}
}  // namespace

void FMDatabase::makeFunctionNamed(const std::string& name, int maximumArguments, SQLFunctionBlock block) {
    auto holder = std::make_shared<SQLFunctionBlock>(std::move(block));
    openFunctions_.push_back(holder);
    if (db_)
        sqlite3_create_function(db_, name.c_str(), maximumArguments, SQLITE_UTF8, holder.get(), &functionTrampoline,
                                nullptr, nullptr);
}

bool FMDatabase::setKey(const std::string&) { return false; }
bool FMDatabase::rekey(const std::string&) { return false; }
bool FMDatabase::setKeyWithData(const Bytes&) { return false; }
bool FMDatabase::rekeyWithData(const Bytes&) { return false; }

std::string FMDatabase::sqliteLibVersion() {
    return sqlite3_libversion();
}

bool FMDatabase::isSQLiteThreadSafe() {
    return sqlite3_threadsafe() != 0;
}

std::string FMDatabase::FMDBUserVersion() {
    return "2.6.2";
}

uint32_t FMDatabase::FMDBVersion() {
    static const uint32_t version = [] {
        std::string text = FMDBUserVersion();
        size_t parts = 1;
        for (char c : text)
            if (c == '.') ++parts;
        if (parts < 3) text += ".0";
        std::string digits;
        for (char c : text)
            if (c != '.') digits += c;
        return uint32_t(std::strtoul(digits.c_str(), nullptr, 16));
    }();
    return version;
}

}  // namespace telvo
