#pragma once
// A queued write of a history file: SQL text with "%@" where the table name goes, the table,
// and the values bound in order to the text's "?" placeholders. Run at the file's next commit.
#include <optional>
#include <string>
#include <utility>

#include "platform/values/Value.h"

namespace telvo {

struct HistoryWriteRecord {
    HistoryWriteRecord() = default;
    HistoryWriteRecord(std::string format_, std::string table_, ValueArray args_,
                       std::optional<double> sample_ = std::nullopt)
        : format(std::move(format_)), table(std::move(table_)), args(std::move(args_)), sample(sample_) {}

    std::string format;  // "format"
    std::string table;   // "table"
    ValueArray args;     // "args"
    // The sample number of the row the record writes, when it writes one: a file that cannot
    // be written keeps a table's rows only as far back as the ring reaches.
    std::optional<double> sample;

    // The statement text: `format` with every "%@" replaced by `table`.
    std::string statementText() const { return historyStatementText(format, table); }

    static std::string historyStatementText(const std::string& format, const std::string& table) {
        std::string out;
        out.reserve(format.size() + table.size());
        for (size_t i = 0; i < format.size(); ++i) {
            if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == '@') {
                out += table;
                ++i;
            } else {
                out += format[i];
            }
        }
        return out;
    }

    // The record as the dictionary form {"format", "table", "args"}.
    Value dictionary() const {
        return Value(ValueDictionary{{"format", Value(format)}, {"table", Value(table)}, {"args", Value(args)}});
    }
    static HistoryWriteRecord fromDictionary(const Value& d) {
        return HistoryWriteRecord{d["format"].stringValue(), d["table"].stringValue(), d["args"].array()};
    }
};

}  // namespace telvo
