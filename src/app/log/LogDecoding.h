#pragma once
// How the log viewer turns the log file's bytes into text: UTF-8 when the bytes are valid
// UTF-8, otherwise Mac OS Roman (every byte maps to a character, so nothing is lost), and
// where a cut through the file may fall without splitting a UTF-8 character.
#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace telvo::app {

// The bytes as UTF-8 text, or as Mac OS Roman text when they are not valid UTF-8.
QString decodeLogBytes(QByteArrayView bytes);
// The bytes as Mac OS Roman text (0x8E is "é").
QString decodeMacRoman(QByteArrayView bytes);
// How many leading bytes to skip so that text read from the middle of a file does not start
// inside a UTF-8 character: the continuation bytes at its start, at most three.
qsizetype leadingContinuationBytes(QByteArrayView bytes);
// The largest cut at most `limit` bytes into `bytes` that does not split a UTF-8 character
// (moving back at most three bytes; `limit` itself when no character starts there).
qsizetype utf8CutBefore(QByteArrayView bytes, qsizetype limit);

}  // namespace telvo::app
