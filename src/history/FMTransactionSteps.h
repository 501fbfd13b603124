#pragma once
// The transaction and save-point steps that the database queue and the database pool both
// run on the connection they hold: begin, the caller's block, then commit or roll back.
#include <functional>

#include "history/FMDatabase.h"

namespace telvo::fmsteps {

using TransactionBlock = std::function<void(const FMDatabasePtr& db, bool* rollback)>;

// Begins a (deferred) transaction, runs the block and commits unless it asked to roll back.
void runTransaction(const FMDatabasePtr& db, bool deferred, const TransactionBlock& block);
// Runs the block inside a save point of a new name; the first error of the steps, if any.
// A save point that cannot be started runs no block.
ErrorPtr runSavePoint(const FMDatabasePtr& db, const TransactionBlock& block);

}  // namespace telvo::fmsteps
