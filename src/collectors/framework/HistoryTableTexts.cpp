#include "collectors/framework/HistoryTableTexts.h"

namespace telvo::historytables {

namespace {

// "insert into %@ (a, b, ...) values (?, ?, ...)", with the fixed columns and values last.
std::string insertText(std::initializer_list<const char*> leading, std::initializer_list<const char*> columns,
                       std::initializer_list<std::pair<const char*, const char*>> fixed) {
    std::string names, values;
    auto add = [&](const std::string& name, const std::string& value) {
        if (!names.empty()) {
            names += ", ";
            values += ", ";
        }
        names += name;
        values += value;
    };
    for (const char* c : leading) add(c, "?");
    for (const char* c : columns) add(c, "?");
    for (const auto& [c, v] : fixed) add(c, v);
    return "insert into %@ (" + names + ") values (" + values + ")";
}

Value keyList(std::initializer_list<const char*> leading, std::initializer_list<const char*> keys) {
    ValueArray a;
    for (const char* k : leading) a.push_back(Value(k));
    for (const char* k : keys) a.push_back(Value(k));
    return Value(std::move(a));
}

std::string withColumns(const std::string& head, const std::string& columns) {
    return "create table %@ (" + head + (columns.empty() ? "" : ", " + columns) + ")";
}

}  // namespace

void setSampleInsert(Value& config, std::initializer_list<const char*> columns) {
    config.set("sqlInsert", Value(insertText({"empty", "sample", "time"}, columns, {})));
    config.set("sqlInsertKeys", keyList({"empty", "sample", "time"}, columns));
}

void setItemInsert(Value& config, std::initializer_list<const char*> columns, std::initializer_list<const char*> keys,
                   std::initializer_list<std::pair<const char*, const char*>> fixed) {
    config.set("sqlInsertItem", Value(insertText({"sample", "time"}, columns, fixed)));
    config.set("sqlInsertItemKeys", keyList({"sample", "time"}, keys.size() ? keys : columns));
}

std::string sampleTable(const std::string& columns, bool defaults) {
    return withColumns(defaults ? "sample double PRIMARY KEY NOT NULL, time double NOT NULL DEFAULT 0, empty integer "
                                  "NOT NULL DEFAULT 0"
                                : "sample double PRIMARY KEY NOT NULL, time double, empty integer",
                       columns);
}

std::string itemTable(const std::string& columns) {
    return withColumns("sample double NOT NULL, time double NOT NULL DEFAULT 0, uuid varchar(100) NOT NULL", columns);
}

std::string longItemTable(const std::string& columns, bool defaults) {
    return withColumns(defaults ? "sample double, time double NOT NULL DEFAULT 0, empty integer NOT NULL DEFAULT 0, "
                                  "uuid varchar(100)"
                                : "sample double, time double, empty integer, uuid varchar(100)",
                       columns);
}

}  // namespace telvo::historytables
