#pragma once
// Turns a record into a log file's line: the record's time stamp in local time
// ("yyyy/MM/dd HH:mm:ss:SSS"), two blanks, the message text.
#include "foundation/logging/DDLogFormatter.h"
#include "foundation/logging/LogDateFormatter.h"

namespace telvo {

class DDLogFileFormatterDefault : public DDLogFormatter {
public:
    // No formatter: the line format's own (local time zone, the pattern above).
    explicit DDLogFileFormatterDefault(LogDateFormatterPtr dateFormatter = nullptr);

    std::optional<std::string> formatLogMessage(const DDLogMessage& logMessage) override;
    const LogDateFormatterPtr& dateFormatter() const { return dateFormatter_; }

private:
    LogDateFormatterPtr dateFormatter_;
};

}  // namespace telvo
