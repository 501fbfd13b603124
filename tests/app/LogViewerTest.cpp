// The log viewer against log files written under a private root: the tail, the two styles,
// following across rolls and truncation, search, clear, the row bound and save.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QDialog>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <cstdio>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>

#include "QtTestEnvironment.h"
#include "app/log/LogDecoding.h"
#include "app/log/LogFollower.h"
#include "app/log/LogLineBuffer.h"
#include "app/log/LogRow.h"
#include "app/log/LogSearch.h"
#include "app/log/TVSLog.h"
#include "foundation/DaemonLogFile.h"
#include "foundation/ServerLog.h"
#include "platform/fs/Root.h"

using namespace telvo;
using namespace telvo::app;

namespace {

const QString kStamp = QStringLiteral("2026-12-10 23:30:02.123: ");

std::string stamp(int i) {
    char text[64];
    std::snprintf(text, sizeof text, "2026-12-10 23:%02d:%02d.%03d: ", (i / 60) % 60, i % 60, i % 1000);
    return text;
}

// The text of each block with whether its first fragment is in the time-stamp style.
struct ViewRow {
    QString text;
    bool dateStyled = false;
    QColor dateColour, messageColour;
    int dateWeight = 0, messageWeight = 0;
};

std::vector<ViewRow> viewRows(QPlainTextEdit* view) {
    std::vector<ViewRow> rows;
    const QColor dateColour = TVSLog::sharedLog().dateAttributes().foreground().color();
    for (QTextBlock block = view->document()->begin(); block.isValid(); block = block.next()) {
        ViewRow row;
        row.text = block.text();
        bool firstFragment = true;
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QTextCharFormat format = fragment.charFormat();
            if (firstFragment && format.foreground().color() == dateColour) {
                row.dateStyled = true;
                row.dateColour = format.foreground().color();
                row.dateWeight = format.fontWeight();
            } else {
                row.messageColour = format.foreground().color();
                row.messageWeight = format.fontWeight();
            }
            firstFragment = false;
        }
        rows.push_back(row);
    }
    if (rows.size() == 1 && rows[0].text.isEmpty()) rows.clear();  // an empty document
    return rows;
}

bool waitFor(const std::function<bool()>& condition, int ms = 60000) { return QTest::qWaitFor(condition, ms); }

// A follower with all it has read and the number of times it went on with a new file.
struct RecordingFollower {
    RecordingFollower() {
        QObject::connect(&follower, &LogFollower::dataRead, [this](const QByteArray& bytes) { read += bytes; });
        QObject::connect(&follower, &LogFollower::fileRestarted, [this] { ++restarts; });
    }
    RecordingFollower(const RecordingFollower&) = delete;
    RecordingFollower& operator=(const RecordingFollower&) = delete;

    LogFollower follower;
    QByteArray read;
    int restarts = 0;
};

class LogViewerTest : public ::testing::Test {
protected:
    void SetUp() override {
        static int serial = 0;
        root_ = telvo::app::testing::scratchFolder() + QStringLiteral("/log-root-%1").arg(++serial);
        QDir().mkpath(root_ + "/Library/Logs");
        fs::setRootForTesting(root_.toStdString());
        path_ = (root_ + "/Library/Logs/TelvoServer.log").toStdString();
    }
    void TearDown() override {
        TVSLog::resetForTesting();
        stopDaemonLog();
        DaemonLogFile::resetForTesting();
        fs::setRootForTesting("");
        QDir(root_).removeRecursively();
    }

    void write(const std::string& bytes, const std::string& path = {}) {
        std::ofstream(path.empty() ? path_ : path, std::ios::binary | std::ios::trunc) << bytes;
    }
    void append(const std::string& bytes) {
        std::ofstream out(path_, std::ios::binary | std::ios::app);
        out << bytes;
    }
    TVSLog& log() { return TVSLog::sharedLog(); }
    QPlainTextEdit* view() { return log().textView(); }
    QString lastRowText() {
        const auto& rows = log().rows();
        return rows.empty() ? QString() : rows.back().date + rows.back().data;
    }
    bool showsLast(const QString& text) {
        return !log().rows().empty() && lastRowText().contains(text) &&
               view()->document()->lastBlock().text().contains(text);
    }

    // The daemon's own log file, rolled past 64 KiB, with line 0 written and the viewer started
    // on it. Lines are about 100 bytes.
    void startDaemonLog() {
        daemonStream_ = std::fopen("/dev/null", "w");
        ASSERT_TRUE(daemonStream_);
        ASSERT_TRUE(DaemonLogFile::open(path_, daemonStream_, 64 * 1024));
        setDaemonLogStream(daemonStream_);
        daemonLine(0);
        log().start();
        ASSERT_EQ(log().rows().size(), 1u);
    }
    void stopDaemonLog() {
        setDaemonLogStream(nullptr);
        if (daemonStream_) std::fclose(daemonStream_);
        daemonStream_ = nullptr;
    }
    static void daemonLine(int i) { ServerLog("line %05d %s", i, std::string(70, 'r')); }
    static QString daemonLineStart(int i) { return QStringLiteral("line %1").arg(i, 5, 10, QLatin1Char('0')); }
    // The rows are the daemon's lines 0 to total - 1, in order.
    void expectDaemonLines(int total) {
        const auto& rows = log().rows();
        ASSERT_EQ(rows.size(), size_t(total));
        for (int i = 0; i < total; ++i) ASSERT_TRUE(rows[size_t(i)].data.startsWith(daemonLineStart(i) + " ")) << i;
    }

    QString root_;
    std::string path_;
    FILE* daemonStream_ = nullptr;
};

}  // namespace

TEST(LogRows, PiecesBecomeRowsWithOrWithoutTheirTimeStamp) {
    struct Case {
        const char* piece;
        bool hasDate;
        const char* date;
        const char* data;
    } cases[] = {
        {"2026-12-10 23:30:02.123: Daemon started", true, "2026-12-10 23:30:02.123: ", "Daemon started\n"},
        // A timestamp further on is part of the message.
        {"note 2026-12-10 23:30:02.123: later", false, "", "note 2026-12-10 23:30:02.123: later\n"},
        // The stamp alone, 24 characters: it still forms a row.
        {"2026-12-10 23:30:02.123:", true, "2026-12-10 23:30:02.123:", "\n"},
        // The point of the pattern matches any character.
        {"2026-12-10 23:30:02x123:!rest", true, "2026-12-10 23:30:02x123:!", "rest\n"},
        {"2026-12-10 23:30:02.12: short", false, "", "2026-12-10 23:30:02.12: short\n"},
        {"2026-12-1a 23:30:02.123: letter", false, "", "2026-12-1a 23:30:02.123: letter\n"},
    };
    for (const Case& c : cases) {
        const LogRow row = makeLogRow(QString::fromUtf8(c.piece));
        EXPECT_EQ(row.hasDate, c.hasDate) << c.piece;
        EXPECT_EQ(row.date, QString::fromUtf8(c.date)) << c.piece;
        EXPECT_EQ(row.data, QString::fromUtf8(c.data)) << c.piece;
    }
    // Empty pieces make no rows.
    const auto rows = splitLogText(u"a\n\n\nb\n");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].data, QStringLiteral("b\n"));
}

TEST(LogDecoding, Utf8ElseMacRomanAndCutsBetweenCharacters) {
    EXPECT_EQ(decodeLogBytes("R\xC3\xA9sum\xC3\xA9"), QStringLiteral("Résumé"));
    EXPECT_EQ(decodeLogBytes("caf\x8E"), QStringLiteral("café"));       // not UTF-8: Mac OS Roman
    EXPECT_EQ(decodeMacRoman("\xA5\xDB\x80"), QString::fromUtf8("•€Ä"));  // every byte maps
    // Skipped at a cut: continuation bytes only, at most three.
    EXPECT_EQ(leadingContinuationBytes("\xA9xyz"), 1);
    EXPECT_EQ(leadingContinuationBytes("\x80\x80\x80\x80"), 3);
    EXPECT_EQ(leadingContinuationBytes("abc"), 0);
    // "a" "é" "b": a cut inside "é" moves before it; other cuts stay.
    const QByteArray bytes("a\xC3\xA9" "b");
    EXPECT_EQ(utf8CutBefore(bytes, 2), 1);
    EXPECT_EQ(utf8CutBefore(bytes, 1), 1);
    EXPECT_EQ(utf8CutBefore(bytes, 3), 3);
    const QByteArray euro("x\xE2\x82\xAC");
    EXPECT_EQ(utf8CutBefore(euro, 2), 1);
    EXPECT_EQ(utf8CutBefore(euro, 3), 1);
    EXPECT_EQ(utf8CutBefore("\x8E\x8E\x8E\x8E\x8E", 3), 3);  // no character to keep whole
}

TEST(LogLineBuffer, HoldsAnUnfinishedLineAndBoundsWhatItHolds) {
    LogLineBuffer buffer;
    EXPECT_EQ(buffer.push("one\ntw"), QByteArray("one\n"));
    EXPECT_EQ(buffer.push("o\nthr"), QByteArray("two\n"));
    EXPECT_EQ(buffer.takeAll(), QByteArray("thr\n"));
    EXPECT_EQ(buffer.held(), 0);
    // A long piece without "\n" goes on in pieces, never cutting "é".
    QByteArray longPiece(LogLineBuffer::kMaximumHeld - 1, 'x');
    longPiece += "\xC3\xA9tail";
    const QByteArray out = buffer.push(longPiece);
    EXPECT_EQ(out, QByteArray(LogLineBuffer::kMaximumHeld - 1, 'x') + '\n');
    EXPECT_EQ(buffer.takeAll(), QByteArray("\xC3\xA9tail\n"));
}

TEST(LogSearchFold, IgnoresCaseAndDiacriticsInTheMessageOnly) {
    const QString needle = foldForSearch(u"resume");
    EXPECT_TRUE(logRowMatches(makeLogRow(kStamp + QStringLiteral("Résumé sent")), needle));
    EXPECT_TRUE(logRowMatches(makeLogRow(kStamp + QStringLiteral("RESUME")), foldForSearch(u"RÉSUMÉ")));
    EXPECT_FALSE(logRowMatches(makeLogRow(kStamp + QStringLiteral("nothing")), needle));
    EXPECT_FALSE(logRowMatches(makeLogRow(kStamp + QStringLiteral("nothing")), foldForSearch(u"23:30")));
    EXPECT_TRUE(logRowMatches(makeLogRow(kStamp + QStringLiteral("nothing")), foldForSearch(u"")));
}

TEST_F(LogViewerTest, TheTailIsShownInTheTwoStyles) {
    // 100 bytes: whole.
    std::string small;
    for (int i = 0; small.size() < 100; ++i) small += stamp(i) + "Line " + std::to_string(i) + "\n";
    small.resize(100);
    small.back() = '\n';
    write(small);
    log().start();
    EXPECT_EQ(view()->toPlainText() + "\n", QString::fromStdString(small).replace("\n\n", "\n"));
    auto rows = viewRows(view());
    ASSERT_GE(rows.size(), 2u);
    const QColor dateColour = QColor::fromRgbF(0.46f, 0.519f, 0.7f);
    const QColor messageColour = QColor::fromRgbF(0.8f, 0.8f, 0.8f);
    EXPECT_TRUE(rows[0].dateStyled);
    EXPECT_EQ(rows[0].dateColour, dateColour);
    EXPECT_EQ(rows[0].dateWeight, QFont::Bold);
    EXPECT_EQ(rows[0].messageColour, messageColour);
    EXPECT_EQ(rows[0].messageWeight, QFont::Normal);
    const QFont font = log().normalAttributes().font();
    EXPECT_EQ(font.family(), QStringLiteral("DejaVu Sans Mono"));
    EXPECT_EQ(font.pixelSize(), 13);
    EXPECT_EQ(view()->palette().color(QPalette::Base), QColor::fromRgbF(0.16f, 0.16f, 0.16f));
    EXPECT_EQ(view()->palette().color(QPalette::Highlight), QColor::fromRgbF(0.239f, 0.278f, 0.4f));
    log().stop();

    // 1 MB: the last 250000 bytes; the first row is cut and so has no time-stamp style.
    std::string big;
    for (int i = 0; big.size() < 1000000; ++i) big += stamp(i) + "Message number " + std::to_string(i) + "\n";
    write(big);
    log().start();
    const std::string tail = big.substr(big.size() - 250000);
    EXPECT_EQ(view()->toPlainText() + "\n", QString::fromStdString(tail));
    rows = viewRows(view());
    ASSERT_GT(rows.size(), 2u);
    EXPECT_FALSE(rows[0].dateStyled);
    EXPECT_TRUE(rows[1].dateStyled);
    EXPECT_FALSE(log().rows().front().hasDate);
    log().stop();

    // A tail that begins inside "é" still reads as UTF-8: the half character is skipped.
    std::string accented = "x\xC3\xA9";  // the cut falls between 0xC3 and 0xA9
    std::string body;
    while (body.size() < 250000) body += stamp(1) + "caf\xC3\xA9 cr\xC3\xA8me\n";
    accented += body.substr(body.size() - 249999);
    write(accented);
    log().start();
    const QString shown = view()->toPlainText();
    EXPECT_TRUE(shown.contains(QStringLiteral("café crème"))) << shown.left(80).toStdString();
    EXPECT_FALSE(shown.contains(QChar(0x221A)));  // "√", what Mac OS Roman makes of 0xC3
}

TEST_F(LogViewerTest, AppendedBytesBecomeRowsOnceTheirLineIsComplete) {
    write(stamp(0) + "first\n");
    log().start();
    ASSERT_EQ(log().rows().size(), 1u);

    QElapsedTimer timer;
    timer.start();
    append(stamp(1) + "second\n");
    ASSERT_TRUE(waitFor([&] { return showsLast("second"); }));
    EXPECT_LT(timer.elapsed(), 1000);

    // A line in two writes, "é" split between them: one row, UTF-8.
    append(stamp(2) + "half caf\xC3");
    QTest::qWait(50);
    append("\xA9 done\n");
    ASSERT_TRUE(waitFor([&] { return showsLast("done"); }));
    EXPECT_EQ(log().rows().size(), 3u);
    EXPECT_EQ(lastRowText(), QString::fromStdString(stamp(2)) + QStringLiteral("half café done\n"));

    // A lone 0x8E is not UTF-8: Mac OS Roman "é".
    append(stamp(3) + "caf\x8E\n");
    ASSERT_TRUE(waitFor([&] { return log().rows().size() == 4; }));
    EXPECT_EQ(log().rows().back().data, QStringLiteral("café\n"));
    EXPECT_EQ(viewRows(view()).size(), 4u);
}

TEST_F(LogViewerTest, FollowsTheDaemonsLogAcrossTwoRollsAndATruncation) {
    ASSERT_NO_FATAL_FAILURE(startDaemonLog());
    // Written in batches the viewer catches up with; 64 KiB a file.
    const int total = 1500;
    for (int i = 1; i < total; i += 100) {
        const int end = std::min(i + 100, total);
        for (int k = i; k < end; ++k) daemonLine(k);
        const QString last = daemonLineStart(end - 1);
        ASSERT_TRUE(waitFor([&] { return showsLast(last); })) << last.toStdString();
    }
    ASSERT_TRUE(QFile::exists(QString::fromStdString(path_ + ".1")));
    ASSERT_LT(QFileInfo(QString::fromStdString(path_)).size(), 64 * 1024 + 200);
    ASSERT_NO_FATAL_FAILURE(expectDaemonLines(total));
    EXPECT_EQ(view()->document()->blockCount(), total);
    stopDaemonLog();

    // Truncated to nothing and written anew, shorter than before: the new lines show.
    write(stamp(7) + "after truncation\n");
    ASSERT_TRUE(waitFor([&] { return showsLast("after truncation"); }));
    EXPECT_EQ(log().rows().size(), size_t(total) + 1);
}

TEST_F(LogViewerTest, FollowingStartsWhereTheTailEndedAndReadsTheRestOfARenamedFile) {
    write("tail\n");
    RecordingFollower recording;
    LogFollower& follower = recording.follower;
    const QByteArray& read = recording.read;
    const int& restarts = recording.restarts;
    ASSERT_TRUE(follower.open(path_));
    EXPECT_EQ(follower.readTail(250000), QByteArray("tail\n"));
    // Written between the tail and the start of following: not lost.
    append("between\n");
    follower.follow();
    ASSERT_TRUE(waitFor([&] { return read == "between\n"; })) << read.toStdString();

    // Renamed away while its writer goes on: the rest of the old file, then the new one.
    std::ofstream old(path_, std::ios::binary | std::ios::app);
    ASSERT_EQ(std::rename(path_.c_str(), (path_ + ".1").c_str()), 0);
    old << "old rest\n" << std::flush;
    ASSERT_TRUE(waitFor([&] { return read.endsWith("old rest\n"); }));
    QTest::qWait(100);
    EXPECT_EQ(restarts, 0);
    old << "old last\n" << std::flush;
    old.close();
    write("new first\n");
    ASSERT_TRUE(waitFor([&] { return read.endsWith("new first\n"); })) << read.toStdString();
    EXPECT_EQ(read, QByteArray("between\nold rest\nold last\nnew first\n"));
    EXPECT_EQ(restarts, 1);
}

// Rolled more than once between two reads: the file rolled in between stands at "<name>.1"
// and comes before the new one; a file found there that is older than the followed one (it was
// moved or deleted by hand, not rolled) is never read again.
TEST_F(LogViewerTest, RollsBetweenTwoReadsMissNoFileThatIsStillThere) {
    const std::string rolled = path_ + ".1";
    struct Case {
        const char* name;
        // Done to the followed file (its writer `followed` still open) with no read between.
        std::function<void(std::ofstream& followed)> change;
        QByteArray expected;
        int restarts;
    };
    const auto roll = [&] { ASSERT_EQ(std::rename(path_.c_str(), rolled.c_str()), 0); };
    const Case cases[] = {
        {"two rolls",
         [&](std::ofstream& followed) {
             roll();
             followed << "a rest\n" << std::flush;
             write("b one\nb two\n");
             roll();
             write("c first\n");
         },
         "a rest\nb one\nb two\nc first\n", 2},
        {"three rolls: the second file is gone, the third is read",
         [&](std::ofstream& followed) {
             roll();
             followed << "a rest\n" << std::flush;
             for (const char* next : {"b lost\n", "c kept\n"}) {
                 write(next);
                 roll();
             }
             write("d first\n");
         },
         "a rest\nc kept\nd first\n", 2},
        {"moved elsewhere by hand, an older file at .1",
         [&](std::ofstream& followed) {
             ASSERT_EQ(std::rename(path_.c_str(), (path_ + ".moved").c_str()), 0);
             followed << "a rest\n" << std::flush;
             write("n first\n");
         },
         "a rest\nn first\n", 1},
        {"deleted by hand, an older file at .1",
         [&](std::ofstream& followed) {
             followed << "a rest\n" << std::flush;
             ASSERT_EQ(::unlink(path_.c_str()), 0);
             write("n first\n");
         },
         "a rest\nn first\n", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ::unlink((path_ + ".moved").c_str());
        write("older, rolled before\n", rolled);
        write("a first\n");
        RecordingFollower recording;
        LogFollower& follower = recording.follower;
        const QByteArray& read = recording.read;
        ASSERT_TRUE(follower.open(path_));
        EXPECT_EQ(follower.readTail(250000), QByteArray("a first\n"));
        follower.follow();
        // No event runs in here, so the follower reads nothing in between.
        std::ofstream followed(path_, std::ios::binary | std::ios::app);
        c.change(followed);
        followed.close();
        const QByteArray last = c.expected.sliced(c.expected.lastIndexOf('\n', c.expected.size() - 2) + 1);
        ASSERT_TRUE(waitFor([&] { return read.endsWith(last); })) << read.toStdString();
        // Nothing more comes.
        QTest::qWait(200);
        EXPECT_EQ(read, c.expected);
        EXPECT_EQ(recording.restarts, c.restarts);
    }
}

// The daemon's own log file rolled twice while the viewer waits for its turn: every line shows,
// in order.
TEST_F(LogViewerTest, TheDaemonsLogRolledTwiceInOneBatchLosesNoLine) {
    ASSERT_NO_FATAL_FAILURE(startDaemonLog());
    // 150 KB roll the 64 KiB file twice before the viewer reads.
    const int total = 1500;
    for (int k = 1; k < total; ++k) daemonLine(k);
    stopDaemonLog();
    ASSERT_TRUE(waitFor([&] { return showsLast(daemonLineStart(total - 1)); }));
    ASSERT_NO_FATAL_FAILURE(expectDaemonLines(total));
}

TEST_F(LogViewerTest, SearchFiltersMessagesAndClearEmptiesOnlyTheView) {
    write(stamp(1) + "Error one\n" + stamp(2) + "ERROR two\n" + stamp(3) + "all fine\n" + stamp(4) +
          "R\xC3\xA9sum\xC3\xA9 sent\n" + stamp(5) + "terror\n");
    log().start();
    log().window()->show();
    auto shown = [&] {
        QStringList texts;
        for (const ViewRow& row : viewRows(view())) texts << row.text.mid(25);
        return texts;
    };
    QTest::keyClicks(log().searchField(), "error");
    EXPECT_EQ(shown(), (QStringList{"Error one", "ERROR two", "terror"}));
    // Searched in the message only, never the time stamp.
    log().searchField()->setText("23:00");
    EXPECT_TRUE(shown().isEmpty());
    log().searchField()->setText("resume");
    EXPECT_EQ(shown(), QStringList{QStringLiteral("Résumé sent")});
    // A line arriving while filtered is appended whether it matches or not.
    append(stamp(6) + "unrelated\n");
    ASSERT_TRUE(waitFor([&] { return shown().contains("unrelated"); }));
    EXPECT_EQ(shown().size(), 2);
    log().searchField()->clear();
    EXPECT_EQ(shown().size(), 6);
    log().clear();
    EXPECT_TRUE(shown().isEmpty());
    EXPECT_EQ(log().rows().size(), 6u);
    log().searchField()->setText("x");
    log().searchField()->clear();
    EXPECT_EQ(shown().size(), 6);

    // Closing and opening again: one search per keystroke, not two.
    log().window()->close();
    EXPECT_FALSE(log().enabled());
    log().start();
    log().window()->show();
    const int before = log().searchCount();
    QTest::keyClicks(log().searchField(), "ab");
    EXPECT_EQ(log().searchCount(), before + 2);
}

TEST_F(LogViewerTest, ScrolledUpThePlaceStaysAtTheBottomItFollows) {
    std::string text;
    for (int i = 0; i < 400; ++i) text += stamp(i) + "row " + std::to_string(i) + "\n";
    write(text);
    log().start();
    log().window()->resize(700, 400);
    log().window()->show();
    QScrollBar* bar = view()->verticalScrollBar();
    ASSERT_TRUE(waitFor([&] { return bar->maximum() > 100; }));
    EXPECT_EQ(bar->value(), bar->maximum());

    bar->setValue(50);
    for (int i = 400; i < 420; ++i) append(stamp(i) + "row " + std::to_string(i) + "\n");
    ASSERT_TRUE(waitFor([&] { return showsLast("row 419"); }));
    EXPECT_EQ(bar->value(), 50);

    bar->setValue(bar->maximum());
    append(stamp(420) + "row 420\n");
    ASSERT_TRUE(waitFor([&] { return showsLast("row 420"); }));
    EXPECT_EQ(bar->value(), bar->maximum());
    // At the end it stays there when the window becomes smaller.
    const int maximum = bar->maximum();
    log().window()->resize(700, 250);
    ASSERT_TRUE(waitFor([&] { return bar->maximum() > maximum; }));
    EXPECT_EQ(bar->value(), bar->maximum());
}

TEST_F(LogViewerTest, KeepsTheNewestHundredThousandRows) {
    write("");
    log().start();
    std::string text;
    text.reserve(150000 * 40);
    for (int i = 0; i < 150000; ++i) text += stamp(i) + "n" + std::to_string(i) + "\n";
    append(text);
    ASSERT_TRUE(waitFor([&] { return showsLast("n149999"); }));
    ASSERT_EQ(log().rows().size(), size_t(TVSLog::kMaximumRows));
    EXPECT_EQ(view()->document()->blockCount(), int(TVSLog::kMaximumRows));
    EXPECT_EQ(log().rows().front().data, QStringLiteral("n50000\n"));
    EXPECT_TRUE(view()->document()->firstBlock().text().endsWith(QStringLiteral("n50000")));
    // Scrolled up while the oldest rows are dropped: the reader still sees the same rows.
    log().window()->resize(700, 400);
    log().window()->show();
    QScrollBar* bar = view()->verticalScrollBar();
    ASSERT_TRUE(waitFor([&] { return bar->maximum() > 1000; }));
    bar->setValue(5000);
    QCoreApplication::processEvents();
    const QString top = view()->cursorForPosition(QPoint(5, 5)).block().text();
    std::string more;
    for (int i = 150000; i < 150100; ++i) more += stamp(i) + "n" + std::to_string(i) + "\n";
    append(more);
    ASSERT_TRUE(waitFor([&] { return showsLast("n150099"); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(view()->cursorForPosition(QPoint(5, 5)).block().text(), top);
    EXPECT_EQ(log().rows().front().data, QStringLiteral("n50100\n"));
    // A search rebuilds the view from the rows kept.
    log().searchField()->setText("N14999");
    EXPECT_EQ(view()->document()->blockCount(), 10);
    EXPECT_EQ(view()->document()->firstBlock().text().mid(25), QStringLiteral("n149990"));
    EXPECT_EQ(bar->value(), bar->maximum());
}

TEST_F(LogViewerTest, IrregularAndMissingFilesAndLongPieces) {
    // Missing: empty, nothing followed even once it appears.
    log().start();
    EXPECT_TRUE(log().rows().empty());
    write(stamp(1) + "late\n");
    QTest::qWait(200);
    EXPECT_TRUE(log().rows().empty());
    log().stop();

    // A folder: not a regular file.
    ASSERT_EQ(::unlink(path_.c_str()), 0);
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(path_)));
    log().start();
    EXPECT_TRUE(log().rows().empty());
    log().stop();
    ASSERT_TRUE(QDir(QString::fromStdString(path_)).removeRecursively());

    // A FIFO: no hang, empty view.
    ASSERT_EQ(::mkfifo(path_.c_str(), 0644), 0);
    QElapsedTimer timer;
    timer.start();
    log().start();
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_TRUE(log().rows().empty());
    EXPECT_TRUE(view()->document()->isEmpty());
    log().stop();
    ASSERT_EQ(::unlink(path_.c_str()), 0);

    // 1 MiB without "\n": shown in pieces of at most 250000 bytes; the rest when its line ends.
    write(stamp(1) + "start\n");
    log().start();
    const std::string piece(1024 * 1024, 'p');
    append(piece);
    ASSERT_TRUE(waitFor([&] { return log().rows().size() == 5; }));
    for (size_t i = 1; i < 5; ++i) EXPECT_EQ(log().rows()[i].data.size(), 250001);
    append("end\n");
    ASSERT_TRUE(waitFor([&] { return showsLast("end"); }));
    ASSERT_EQ(log().rows().size(), 6u);
    EXPECT_EQ(log().rows()[5].data.size(), qsizetype(piece.size() - 4 * 250000 + 4));
}

TEST_F(LogViewerTest, SaveCopiesTheWholeLogOrSaysWhyNot) {
    std::string text;
    for (int i = 0; text.size() < 1000000; ++i) text += stamp(i) + "saved line " + std::to_string(i) + "\n";
    write(text);
    write("older, rolled\n", path_ + ".1");
    log().start();
    log().window()->show();

    const QString folder = root_ + "/saved";
    QDir().mkpath(folder);
    log().save();
    QFileDialog* dialog = log().window()->findChild<QFileDialog*>();
    ASSERT_TRUE(dialog);
    EXPECT_TRUE(dialog->testOption(QFileDialog::DontUseNativeDialog));
    EXPECT_EQ(dialog->windowModality(), Qt::WindowModal);
    EXPECT_EQ(dialog->defaultSuffix(), QStringLiteral("log"));
    ASSERT_EQ(dialog->selectedFiles().size(), 1);
    EXPECT_TRUE(dialog->selectedFiles().front().endsWith(QStringLiteral("/Telvo Server.log")));
    dialog->setDirectory(folder);
    dialog->selectFile(folder + "/Telvo Server.log");
    static_cast<QDialog*>(dialog)->accept();
    const QString saved = folder + "/Telvo Server.log";
    ASSERT_TRUE(QFile::exists(saved));
    EXPECT_EQ(QProcess::execute("cmp", {QString::fromStdString(path_), saved}), 0);
    EXPECT_FALSE(log().alert());
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"Telvo Server.log"});

    if (::geteuid() != 0) GTEST_SKIP() << "a full disk needs a tmpfs, which only root can mount";
    const QString full = root_ + "/full";
    QDir().mkpath(full);
    ASSERT_EQ(::mount("tmpfs", full.toLocal8Bit().constData(), "tmpfs", 0, "size=256k"), 0) << std::strerror(errno);
    struct Unmount {
        QString at;
        ~Unmount() { ::umount2(at.toLocal8Bit().constData(), MNT_DETACH); }
    } unmount{full};
    log().save();
    dialog = log().window()->findChild<QFileDialog*>();
    ASSERT_TRUE(dialog);
    dialog->setDirectory(full);
    dialog->selectFile(full + "/Telvo Server.log");
    static_cast<QDialog*>(dialog)->accept();
    ASSERT_TRUE(log().alert());
    EXPECT_EQ(log().alert()->text(), QStringLiteral("The log could not be saved."));
    EXPECT_FALSE(log().alert()->informativeText().isEmpty());
    EXPECT_EQ(log().alert()->windowModality(), Qt::WindowModal);
    EXPECT_TRUE(QDir(full).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
}
