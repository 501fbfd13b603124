// The integrity check run on a history file at start.
#include <sqlite3.h>

#include <cctype>

#include "history/FMDatabase.h"
#include "history/HistoryLog.h"
#include "platform/values/Format.h"

namespace telvo {

bool FMDatabase::isDatabaseValid() {
    sqlite3_stmt* statement = nullptr;
    if (!db_) return false;
    int prepared = sqlite3_prepare_v2(db_, "PRAGMA integrity_check", -1, &statement, nullptr);
    if (prepared != SQLITE_OK) {
        sqlite3_finalize(statement);
        // Preparing reads the schema, which another process's lock may keep from us: that
        // says nothing about damage, and a file answered invalid is deleted.
        if (prepared == SQLITE_BUSY || prepared == SQLITE_LOCKED) {
            history::consoleLog("Result is simple BUSY of the sqllite3 on isDatabaseCorrupted");
            return true;
        }
        return false;
    }
    bool valid = true;
    int rc = sqlite3_step(statement);
    switch (rc) {
        case SQLITE_ROW: {
            const unsigned char* raw = sqlite3_column_text(statement, 0);
            std::string text = raw ? reinterpret_cast<const char*>(raw) : "";
            std::string answer;
            for (char c : text) answer += char(std::tolower(static_cast<unsigned char>(c)));
            size_t begin = answer.find_first_not_of(" \t\r\n\v\f");
            size_t end = answer.find_last_not_of(" \t\r\n\v\f");
            answer = begin == std::string::npos ? "" : answer.substr(begin, end - begin + 1);
            if (answer != "ok") {
                history::consoleLog(format("ATTENTION: integrity_check response %@", text));
                valid = false;
            }
            break;
        }
        case SQLITE_ERROR:
        case SQLITE_CORRUPT:
            valid = false;
            break;
        case SQLITE_BUSY:
            history::consoleLog("Result is simple BUSY of the sqllite3 on isDatabaseCorrupted");
            break;
        case SQLITE_MISUSE:
            history::consoleLog("Bad utilization of the sqllite3 on isDatabaseCorrupted");
            break;
        case SQLITE_DONE:
            history::consoleLog("Result is simple DONE of the sqllite3 on isDatabaseCorrupted");
            break;
        default:
            break;
    }
    sqlite3_finalize(statement);
    return valid;
}

}  // namespace telvo
