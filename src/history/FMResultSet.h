#pragma once
// A cursor over the rows of one query. It keeps its statement and its connection alive until
// it is closed: by stepping past the last row, by an error, by close(), by its connection's
// close, or by being destroyed. NULL columns and unknown column names read as the null Value.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "history/FMStatement.h"
#include "platform/Error.h"
#include "platform/values/Value.h"

namespace telvo {

class FMDatabase;
class FMResultSet;
using FMResultSetPtr = std::shared_ptr<FMResultSet>;

class FMResultSet {
public:
    // A result set over a statement that is not in use; marks it in use.
    static FMResultSetPtr resultSetWithStatement(const FMStatementPtr& statement,
                                                 const std::shared_ptr<FMDatabase>& parentDB);
    ~FMResultSet();
    FMResultSet(const FMResultSet&) = delete;
    FMResultSet& operator=(const FMResultSet&) = delete;

    // Steps to the next row: YES on a row; NO at the end or on an error (closed either way).
    bool next();
    bool nextWithError(ErrorPtr* outError);
    bool hasAnotherRow() const;
    // Harmless when already closed.
    void close();

    int columnCount() const;
    // Case-insensitive; -1 (with a console warning) for an unknown name.
    int columnIndexForName(const std::string& columnName);
    std::string columnNameForIndex(int columnIndex) const;

    int intForColumnIndex(int columnIndex) const;
    int intForColumn(const std::string& columnName);
    long longForColumnIndex(int columnIndex) const;
    long longForColumn(const std::string& columnName);
    long long longLongIntForColumnIndex(int columnIndex) const;
    long long longLongIntForColumn(const std::string& columnName);
    unsigned long long unsignedLongLongIntForColumnIndex(int columnIndex) const;
    unsigned long long unsignedLongLongIntForColumn(const std::string& columnName);
    bool boolForColumnIndex(int columnIndex) const;
    bool boolForColumn(const std::string& columnName);
    double doubleForColumnIndex(int columnIndex) const;
    double doubleForColumn(const std::string& columnName);
    // nullopt for a negative index or a NULL column.
    std::optional<std::string> stringForColumnIndex(int columnIndex) const;
    std::optional<std::string> stringForColumn(const std::string& columnName);
    // SQLite's own text, valid until the next step; null for a negative index or NULL.
    const char* UTF8StringForColumnIndex(int columnIndex) const;
    const char* UTF8StringForColumn(const std::string& columnName);
    // A copy of the blob; nullopt for a negative index, a NULL column or an empty blob.
    std::optional<Bytes> dataForColumnIndex(int columnIndex) const;
    std::optional<Bytes> dataForColumn(const std::string& columnName);
    // SQLite's own bytes, valid until the next step; nullopt as for dataForColumnIndex.
    std::optional<std::string_view> dataNoCopyForColumnIndex(int columnIndex) const;
    std::optional<std::string_view> dataNoCopyForColumn(const std::string& columnName);
    // The column's double as seconds since 1970, or with a date formatter on the connection
    // its text read by the formatter; nullopt for a negative index or NULL.
    std::optional<Date> dateForColumnIndex(int columnIndex) const;
    std::optional<Date> dateForColumn(const std::string& columnName);
    bool columnIndexIsNull(int columnIndex) const;
    bool columnIsNull(const std::string& columnName);

    // Integer, double, data or string by the column's type; the null Value for NULL columns,
    // negative indexes and unknown names.
    Value objectForColumnIndex(int columnIndex) const;
    Value objectForColumnName(const std::string& columnName);
    Value operator[](int columnIndex) const { return objectForColumnIndex(columnIndex); }
    Value operator[](const std::string& columnName) { return objectForColumnName(columnName); }
    Value operator[](const char* columnName) { return objectForColumnName(columnName); }

    // The current row as column name (as the query spelt it) -> value; the null Value when
    // the statement has no data for the current row.
    Value resultDictionary() const;
    // The same keyed by lower-cased names.
    Value resultDict();

    const std::string& query() const { return query_; }
    void setQuery(const std::string& query) { query_ = query; }
    const FMStatementPtr& statement() const { return statement_; }
    const std::shared_ptr<FMDatabase>& parentDB() const { return parentDB_; }
    bool isClosed() const { return !statement_; }

private:
    FMResultSet() = default;
    const std::map<std::string, int>& columnNameToIndexMap();

    std::shared_ptr<FMDatabase> parentDB_;
    FMStatementPtr statement_;
    std::string query_;
    std::optional<std::map<std::string, int>> columnNameToIndexMap_;
};

}  // namespace telvo
