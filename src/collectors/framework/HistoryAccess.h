#pragma once
// The collector framework's road into the history files: each call finds the file's
// HistoryDatabaseItem by path (an empty path means no file, and the call does nothing) and
// runs on that file's serial queue, as the history store requires.
#include <functional>
#include <optional>
#include <string>
#include <vector>
#include "platform/values/Value.h"

namespace telvo::historyaccess {

using Rows = std::vector<Value>;  // each a dictionary: column name -> value

// Synchronous, on the file's queue: whether the table exists.
bool tableExists(const std::string& path, const std::string& table);
// Synchronous, on the file's queue: runs one statement; true on success.
bool execute(const std::string& path, const std::string& sql, const ValueArray& args = {});
// Synchronous, on the file's queue: the rows of a query.
Rows query(const std::string& path, const std::string& sql, const ValueArray& args = {});
// Asynchronous, on the file's queue; `done` receives the rows on the main queue. With no
// file, `done` is not called and the answer is false.
bool queryAsync(const std::string& path, const std::string& sql, const ValueArray& args,
                std::function<void(Rows)> done);
// Queues a write record ("format" with "%@" for the table, "table", "args") for the next
// commit; `sample` is the number of the sample the row holds, when it holds one.
void addWrite(const std::string& path, const std::string& format, const std::string& table, const ValueArray& args,
              std::optional<double> sample = std::nullopt);
// Runs the pending writes of the file in one transaction, asynchronously on its queue.
void commit(const std::string& path);

}  // namespace telvo::historyaccess
