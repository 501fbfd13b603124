#include "foundation/logging/DDLogFileFormatterDefault.h"

namespace telvo {

DDLogFileFormatterDefault::DDLogFileFormatterDefault(LogDateFormatterPtr dateFormatter)
    : dateFormatter_(dateFormatter ? std::move(dateFormatter)
                                   : std::make_shared<const LogDateFormatter>("yyyy/MM/dd HH:mm:ss:SSS", false)) {}

std::optional<std::string> DDLogFileFormatterDefault::formatLogMessage(const DDLogMessage& logMessage) {
    // "%@  %@"
    return dateFormatter_->stringFromDate(logMessage.timestamp()) + "  " + logMessage.logMsg();
}

}  // namespace telvo
