#include "app/log/LogLineBuffer.h"

#include "app/log/LogDecoding.h"

namespace telvo::app {

QByteArray LogLineBuffer::push(QByteArrayView bytes) {
    QByteArray out;
    const qsizetype lastNewline = bytes.lastIndexOf('\n');
    if (lastNewline >= 0) {
        out.reserve(held_.size() + lastNewline + 1);
        out.append(held_);
        out.append(bytes.first(lastNewline + 1));
        held_ = bytes.sliced(lastNewline + 1).toByteArray();
    } else {
        held_.append(bytes);
    }
    if (held_.size() >= kMaximumHeld) {
        qsizetype start = 0;
        while (held_.size() - start >= kMaximumHeld) {
            const QByteArrayView rest = QByteArrayView(held_).sliced(start);
            qsizetype cut = utf8CutBefore(rest, kMaximumHeld);
            if (cut <= 0) cut = kMaximumHeld;
            out.append(rest.first(cut));
            out.append('\n');
            start += cut;
        }
        held_.remove(0, start);
    }
    return out;
}

QByteArray LogLineBuffer::takeAll() {
    if (held_.isEmpty()) return {};
    QByteArray out = std::move(held_);
    held_.clear();
    out.append('\n');
    return out;
}

}  // namespace telvo::app
