#pragma once
// One prepared SQLite statement of a connection, with its text, how often it ran and whether
// a result set is reading from it. Closing (or destroying) it finalizes the statement.
#include <cstdint>
#include <memory>
#include <string>

struct sqlite3_stmt;

namespace telvo {

class FMStatement;
using FMStatementPtr = std::shared_ptr<FMStatement>;

class FMStatement {
public:
    explicit FMStatement(sqlite3_stmt* statement = nullptr) : statement_(statement) {}
    ~FMStatement();
    FMStatement(const FMStatement&) = delete;
    FMStatement& operator=(const FMStatement&) = delete;

    // Finalizes the prepared statement (once) and clears the in-use mark.
    void close();
    // Resets the prepared statement for another run and clears the in-use mark.
    void reset();

    sqlite3_stmt* statement() const { return statement_; }
    void setStatement(sqlite3_stmt* statement) { statement_ = statement; }
    const std::string& query() const { return query_; }
    void setQuery(const std::string& query) { query_ = query; }
    int64_t useCount() const { return useCount_; }
    void setUseCount(int64_t count) { useCount_ = count; }
    bool inUse() const { return inUse_; }
    void setInUse(bool inUse) { inUse_ = inUse; }

    // "<FMStatement: 0x...> N hit(s) for query TEXT"
    std::string description() const;

private:
    sqlite3_stmt* statement_ = nullptr;
    std::string query_;
    int64_t useCount_ = 0;
    bool inUse_ = false;
};

}  // namespace telvo
