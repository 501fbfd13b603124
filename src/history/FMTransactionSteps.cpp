#include "history/FMTransactionSteps.h"

#include <atomic>
#include <string>

#include "platform/values/Format.h"

namespace telvo::fmsteps {

void runTransaction(const FMDatabasePtr& db, bool deferred, const TransactionBlock& block) {
    bool shouldRollback = false;
    if (deferred)
        db->beginDeferredTransaction();
    else
        db->beginTransaction();
    if (block) block(db, &shouldRollback);
    if (shouldRollback)
        db->rollback();
    else
        db->commit();
}

ErrorPtr runSavePoint(const FMDatabasePtr& db, const TransactionBlock& block) {
    static std::atomic<long> savePointIdx{0};
    const std::string name = format("savePoint%ld", long(savePointIdx++));
    ErrorPtr err;
    if (!db->startSavePointWithName(name, &err)) return err;
    bool shouldRollback = false;
    if (block) block(db, &shouldRollback);
    if (shouldRollback) db->rollbackToSavePointWithName(name, &err);
    db->releaseSavePointWithName(name, &err);
    return err;
}

}  // namespace telvo::fmsteps
