// Cost of one history commit: N queued rows of a collector tick run in one transaction, with
// the cached insert statement, on a real file in a temporary folder.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "history/HistoryDatabaseController.h"
#include "platform/fs/Root.h"

namespace {

using namespace telvo;

void BM_CommitQueuedRows(benchmark::State& state) {
    char pattern[] = "/tmp/telvo-bench-XXXXXX";
    std::string root = mkdtemp(pattern);
    fs::setRootForTesting(root);
    HistoryDatabaseItemPtr item = databaseItemWithPath(std::string("/local.db"));
    item->queryDatabase([](const FMDatabasePtr& db) {
        db->executeUpdate("CREATE TABLE hour_cpuhistory (sample DOUBLE UNIQUE, time DOUBLE, user DOUBLE, "
                          "system DOUBLE, nice DOUBLE, empty INTEGER)");
    });
    const long rows = state.range(0);
    double sample = 0;
    for (auto _ : state) {
        for (long i = 0; i < rows; ++i) {
            sample += 1;
            item->addItem(HistoryWriteRecord{
                "INSERT INTO %@ (sample, time, user, system, nice, empty) VALUES (?, ?, ?, ?, ?, ?)",
                "hour_cpuhistory",
                {Value(sample), Value(1.7e9 + sample), Value(12.5), Value(3.25), Value(0.0), Value(0)}});
        }
        item->commitSync();
    }
    state.SetItemsProcessed(state.iterations() * rows);
    HistoryDatabaseController::resetForTesting();
    fs::setRootForTesting("");
    if (std::system(("rm -rf '" + root + "'").c_str()) != 0) state.SkipWithError("could not remove the folder");
}
BENCHMARK(BM_CommitQueuedRows)->Arg(1)->Arg(10)->Arg(100)->Unit(benchmark::kMicrosecond);

}  // namespace
