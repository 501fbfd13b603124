#pragma once
// Holds the end of the log the daemon has not finished writing: bytes after the last "\n"
// wait for the next batch, so that a line read in two pieces still makes one row. What is
// held never grows past kMaximumHeld bytes: a longer piece is handed on in pieces of at most
// that size, each cut between UTF-8 characters and ended with "\n".
#include <QByteArray>
#include <QByteArrayView>

namespace telvo::app {

class LogLineBuffer {
public:
    static constexpr qsizetype kMaximumHeld = 250000;

    // Adds `bytes` and answers the complete lines now available (ending in "\n"), if any.
    QByteArray push(QByteArrayView bytes);
    // Answers what is held, ended with "\n" (nothing when nothing is held), and forgets it.
    QByteArray takeAll();
    qsizetype held() const { return held_.size(); }
    void clear() { held_.clear(); }

private:
    QByteArray held_;
};

}  // namespace telvo::app
