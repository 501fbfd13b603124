#pragma once
// The statements of the history tables that every collector repeats: the "empty", "sample",
// "time" columns and the insert texts with their key lists. A collector passes its own columns
// and gets the texts its configuration dictionary holds ("sqlInsert", "sqlCreate" and the rest).
#include <initializer_list>
#include <string>
#include <utility>

#include "platform/values/Value.h"

namespace telvo::historytables {

// "sqlInsert" = "insert into %@ (empty, sample, time, <columns>) values (?, ...)" and
// "sqlInsertKeys" = "empty", "sample", "time" and the columns (the samples' keys are the
// column names).
void setSampleInsert(Value& config, std::initializer_list<const char*> columns = {});

// "sqlInsertItem" = "insert into %@ (sample, time, <columns>, <fixed columns>) values (?, ...,
// <fixed values>)" and "sqlInsertItemKeys" = "sample", "time" and the sample key of each
// column (`keys`, or the column names when none are given).
void setItemInsert(Value& config, std::initializer_list<const char*> columns, std::initializer_list<const char*> keys = {},
                   std::initializer_list<std::pair<const char*, const char*>> fixed = {});

// A table with one row per sample number: "create table %@ (sample double PRIMARY KEY NOT NULL,
// time double NOT NULL DEFAULT 0, empty integer NOT NULL DEFAULT 0, <columns>)"; `defaults`
// false gives the short long-term form "time double, empty integer".
std::string sampleTable(const std::string& columns = "", bool defaults = true);

// An item table: "create table %@ (sample double NOT NULL, time double NOT NULL DEFAULT 0,
// uuid varchar(100) NOT NULL, <columns>)".
std::string itemTable(const std::string& columns);

// The long-term item table: "create table %@ (sample double, time double NOT NULL DEFAULT 0,
// empty integer NOT NULL DEFAULT 0, uuid varchar(100), <columns>)"; `defaults` false gives
// "time double, empty integer".
std::string longItemTable(const std::string& columns, bool defaults = true);

}  // namespace telvo::historytables
