#include "history/FMStatement.h"

#include <sqlite3.h>

#include <cstdio>

#include "platform/values/Format.h"

namespace telvo {

FMStatement::~FMStatement() {
    close();
}

void FMStatement::close() {
    if (statement_) {
        sqlite3_finalize(statement_);
        statement_ = nullptr;
    }
    inUse_ = false;
}

void FMStatement::reset() {
    if (statement_) sqlite3_reset(statement_);
    inUse_ = false;
}

std::string FMStatement::description() const {
    char object[64];
    std::snprintf(object, sizeof object, "<FMStatement: %p>", static_cast<const void*>(this));
    return format("%@ %ld hit(s) for query %@", std::string(object), long(useCount_), query_);
}

}  // namespace telvo
