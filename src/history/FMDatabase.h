#pragma once
// One connection to an SQLite file: opens it, prepares, binds and runs statements, keeps a
// cache of prepared statements keyed by their text and reports the last error. Result sets
// (FMResultSet) keep their connection alive until they are closed. A connection is used by
// one thread at a time; the history files confine each to its own serial queue.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "history/FMResultSet.h"
#include "history/FMStatement.h"
#include "foundation/logging/LogDateFormatter.h"
#include "platform/Error.h"
#include "platform/values/Value.h"

struct sqlite3;
struct sqlite3_context;
struct sqlite3_value;

namespace telvo {

class FMDatabase;
using FMDatabasePtr = std::shared_ptr<FMDatabase>;

class FMDatabase : public std::enable_shared_from_this<FMDatabase> {
public:
    // A closed connection. No path (nullopt) is an in-memory database, an empty path a
    // temporary one; any other path is resolved under the file-system root when opened.
    static FMDatabasePtr databaseWithPath(const std::optional<std::string>& path);
    explicit FMDatabase(const std::optional<std::string>& path = std::nullopt);
    ~FMDatabase();
    FMDatabase(const FMDatabase&) = delete;
    FMDatabase& operator=(const FMDatabase&) = delete;

    // ---- Opening and closing
    // Read-write, created when missing. YES at once when already open.
    bool open();
    // Through sqlite3_open_v2 with the caller's flags and VFS (none when nullopt).
    bool openWithFlags(int flags, const std::optional<std::string>& vfs = std::nullopt);
    // Closes cached statements and open result sets, then the handle. Always YES.
    bool close();
    bool goodConnection();

    const std::optional<std::string>& databasePath() const { return databasePath_; }
    sqlite3* sqliteHandle() const { return db_; }
    // The file name handed to SQLite: ":memory:", "" or the resolved host path.
    std::string sqlitePath() const;

    // ---- Flags
    bool logsErrors() const { return logsErrors_; }
    void setLogsErrors(bool v) { logsErrors_ = v; }
    bool crashOnErrors() const { return crashOnErrors_; }
    void setCrashOnErrors(bool v) { crashOnErrors_ = v; }
    bool traceExecution() const { return traceExecution_; }
    void setTraceExecution(bool v) { traceExecution_ = v; }
    bool checkedOut() const { return checkedOut_; }
    void setCheckedOut(bool v) { checkedOut_ = v; }
    bool shouldCacheStatements() const { return shouldCacheStatements_; }
    void setShouldCacheStatements(bool v);
    double maxBusyRetryTimeInterval() const { return maxBusyRetryTimeInterval_; }
    void setMaxBusyRetryTimeInterval(double seconds);
    // Retired: they only log; the getter answers -1.
    int busyRetryTimeout();
    void setBusyRetryTimeout(int timeout);

    // ---- Updates (YES when the statement ran to completion)
    bool executeUpdate(const std::string& sql, const ValueArray& arguments = {});
    bool executeUpdateWithArgumentsInArray(const std::string& sql, const ValueArray& arguments);
    bool executeUpdateWithParameterDictionary(const std::string& sql, const ValueDictionary& arguments);
    // `executeUpdate:values:error:` and `executeUpdate:withErrorAndBindings:`.
    bool executeUpdate(const std::string& sql, const ValueArray& values, ErrorPtr* outError);
    // Every printf conversion of `format` becomes a "?" bound to the next argument.
    bool executeUpdateWithFormat(const std::string& format, const ValueArray& arguments);

    // ---- Queries (a result set before any row is read, or null when it cannot run)
    FMResultSetPtr executeQuery(const std::string& sql, const ValueArray& arguments = {});
    FMResultSetPtr executeQueryWithArgumentsInArray(const std::string& sql, const ValueArray& arguments);
    FMResultSetPtr executeQueryWithParameterDictionary(const std::string& sql, const ValueDictionary& arguments);
    // `executeQuery:values:error:`: stores lastError in *outError when the answer is null.
    FMResultSetPtr executeQuery(const std::string& sql, const ValueArray& values, ErrorPtr* outError);
    FMResultSetPtr executeQueryWithFormat(const std::string& format, const ValueArray& arguments);

    // The whole text through sqlite3_exec; each result row reaches the block as column name ->
    // text (null for NULL); a non-zero answer of the block stops the run.
    using StatementsResultBlock = std::function<int(const ValueDictionary& row)>;
    bool executeStatements(const std::string& sql);
    bool executeStatements(const std::string& sql, const StatementsResultBlock& block);

    // ---- Transactions and save points
    bool beginTransaction();          // "begin exclusive transaction"
    bool beginDeferredTransaction();  // "begin deferred transaction"
    bool commit();                    // "commit transaction"
    bool rollback();                  // "rollback transaction"
    bool inTransaction() const { return inTransaction_; }
    bool startSavePointWithName(const std::string& name, ErrorPtr* outError = nullptr);
    bool releaseSavePointWithName(const std::string& name, ErrorPtr* outError = nullptr);
    bool rollbackToSavePointWithName(const std::string& name, ErrorPtr* outError = nullptr);
    // Runs the block inside a save point "dbSavePoint%ld"; the block sets *rollback to undo.
    ErrorPtr inSavePoint(const std::function<void(bool* rollback)>& block);

    // ---- Errors and counters
    std::string lastErrorMessage() const;
    int lastErrorCode() const;
    bool hadError() const;
    // Domain "FMDatabase", the last SQLite code and message.
    ErrorPtr lastError() const;
    ErrorPtr errorWithMessage(const std::string& message) const;
    int64_t lastInsertRowId();
    int changes();

    bool hasOpenResultSets() const { return !openResultSets_.empty(); }
    size_t openResultSetCount() const { return openResultSets_.size(); }
    void closeOpenResultSets();
    void clearCachedStatements();
    // Statements held in the cache for `sql` (for inspection).
    std::vector<FMStatementPtr> cachedStatementsForQuery(const std::string& sql) const;

    // ---- Dates
    // A formatter with the given pattern in UTC ("yyyy-MM-dd HH:mm:ss" and the like).
    static LogDateFormatterPtr storeableDateFormat(const std::string& format);
    // With a formatter, dates bind as its text and date readers parse column text with it;
    // without one (the default) they are seconds since 1970 as a double.
    void setDateFormat(LogDateFormatterPtr formatter) { dateFormat_ = std::move(formatter); }
    const LogDateFormatterPtr& dateFormat() const { return dateFormat_; }
    bool hasDateFormatter() const { return dateFormat_ != nullptr; }
    // nullopt without a formatter or for text the formatter does not read.
    std::optional<Date> dateFromString(const std::string& text) const;
    // Empty without a formatter.
    std::string stringFromDate(Date date) const;

    // ---- Extras
    // Registers a UTF-8 SQL function; the block gets the context, argc and argv.
    using SQLFunctionBlock = std::function<void(sqlite3_context*, int, sqlite3_value**)>;
    void makeFunctionNamed(const std::string& name, int maximumArguments, SQLFunctionBlock block);
    // No ciphered database is supported: these always answer NO.
    bool setKey(const std::string& key);
    bool rekey(const std::string& key);
    bool setKeyWithData(const Bytes& key);
    bool rekeyWithData(const Bytes& key);

    static std::string sqliteLibVersion();
    static bool isSQLiteThreadSafe();
    static std::string FMDBUserVersion();  // "2.6.2"
    static uint32_t FMDBVersion();         // 0x262

    // ---- Additions
    bool tableExists(const std::string& tableName);
    FMResultSetPtr getTableSchema(const std::string& tableName);
    bool columnExists(const std::string& columnName, const std::string& tableName);
    std::optional<std::string> stringForQuery(const std::string& sql, const ValueArray& arguments = {});
    int intForQuery(const std::string& sql, const ValueArray& arguments = {});
    long longForQuery(const std::string& sql, const ValueArray& arguments = {});
    bool boolForQuery(const std::string& sql, const ValueArray& arguments = {});
    double doubleForQuery(const std::string& sql, const ValueArray& arguments = {});
    std::optional<Bytes> dataForQuery(const std::string& sql, const ValueArray& arguments = {});
    std::optional<Date> dateForQuery(const std::string& sql, const ValueArray& arguments = {});
    bool validateSQL(const std::string& sql, ErrorPtr* outError = nullptr);
    FMResultSetPtr getSchema();
    uint32_t applicationID();
    void setApplicationID(uint32_t appID);
    std::string applicationIDString();
    void setApplicationIDString(const std::string& code);
    uint32_t userVersion();
    void setUserVersion(uint32_t version);

    // ---- Verification of history files
    // "PRAGMA integrity_check" on the raw handle: YES unless the check reports damage.
    bool isDatabaseValid();

    std::string description() const;

    // The busy handler sleeps through this function (milliseconds); tests that drive a
    // virtual clock replace it. Null restores sqlite3_sleep.
    static void setBusySleepForTesting(std::function<void(int milliseconds)> sleeper);

private:
    friend class FMResultSet;
    static int busyHandler(void* context, int count);
    void installBusyHandler();
    bool databaseExists();
    bool executeUpdateCore(const std::string& sql, ErrorPtr* outError, const ValueArray* array,
                           const ValueDictionary* dictionary);
    FMResultSetPtr executeQueryCore(const std::string& sql, const ValueArray* array,
                                    const ValueDictionary* dictionary);
    // Marks the database busy with a statement while it lives; empty when the statement must
    // not run.
    class BusyScope {
    public:
        BusyScope() = default;
        explicit BusyScope(bool* flag) : flag_(flag) { *flag_ = true; }
        BusyScope(BusyScope&& other) noexcept : flag_(other.flag_) { other.flag_ = nullptr; }
        BusyScope(const BusyScope&) = delete;
        BusyScope& operator=(const BusyScope&) = delete;
        ~BusyScope() {
            if (flag_) *flag_ = false;
        }
        explicit operator bool() const { return flag_ != nullptr; }

    private:
        bool* flag_ = nullptr;
    };
    // The steps both run a statement with: an open database not busy with another statement
    // (a nested use is refused), marked busy for the scope, with the trace line naming the
    // caller; take the cached statement or prepare one (null after a failure, logged), bind the
    // arguments (the count bound), drop a statement that cannot run, and keep a statement that
    // ran (wrapped, and cached when statements are).
    BusyScope startStatement(const char* caller, const std::string& sql);
    bool beginStatement();
    struct sqlite3_stmt* preparedStatement(const std::string& sql, FMStatementPtr& cached, ErrorPtr* outError);
    int bindArguments(struct sqlite3_stmt* pStmt, const ValueArray* array, const ValueDictionary* dictionary,
                      bool alwaysLogMissingNames, ErrorPtr* outError);
    void discardStatement(const FMStatementPtr& cached, struct sqlite3_stmt* pStmt);
    FMStatementPtr keepStatement(struct sqlite3_stmt* pStmt, const std::string& sql);
    FMStatementPtr cachedStatementForQuery(const std::string& sql);
    void setCachedStatement(const FMStatementPtr& statement, const std::string& sql);
    void removeCachedStatement(const FMStatementPtr& statement);
    void bindObject(const Value& object, int column, struct sqlite3_stmt* statement);
    void resultSetDidClose(FMResultSet* resultSet);
    bool savePointStatement(const std::string& text, ErrorPtr* outError);
    // Runs a transaction statement; once it succeeds, the connection is in a transaction or not.
    bool transactionStatement(const char* sql, bool inTransactionAfter);

    sqlite3* db_ = nullptr;
    std::optional<std::string> databasePath_;
    bool logsErrors_ = true;
    bool crashOnErrors_ = false;
    bool traceExecution_ = false;
    bool checkedOut_ = false;
    bool shouldCacheStatements_ = false;
    bool isExecutingStatement_ = false;
    bool inTransaction_ = false;
    double maxBusyRetryTimeInterval_ = 2.0;
    double startBusyRetryTime_ = 0;
    std::optional<std::map<std::string, std::vector<FMStatementPtr>>> cachedStatements_;
    std::set<FMResultSet*> openResultSets_;
    std::vector<std::shared_ptr<SQLFunctionBlock>> openFunctions_;
    LogDateFormatterPtr dateFormat_;
};

}  // namespace telvo
