// What the log viewer costs: opening a 10 MB log to a painted tail; with 100000 rows held,
// the CPU per line the daemon appends (read, decoded, styled, appended and scrolled), in
// batches of one line and of 100; one repaint of the full view.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <cstdio>
#include <string>

#include "app/LeakSuppressions.h"
#include "app/log/TVSLog.h"
#include "platform/fs/Root.h"

extern "C" const char* __lsan_default_suppressions() { return telvo::app::kQtLeakSuppressions; }

using namespace telvo;
using namespace telvo::app;

namespace {

std::string root;
std::string logPath;

std::string line(long i) {
    char text[160];
    std::snprintf(text, sizeof text, "2026-12-10 23:%02ld:%02ld.%03ld: 192.168.1.20 - client.local: sent %ld bytes of CPU history\n",
                  (i / 60) % 60, i % 60, i % 1000, i * 37 % 100000);
    return text;
}

void writeLog(size_t bytes) {
    FILE* file = std::fopen(logPath.c_str(), "w");
    for (long i = 0, n = 0; size_t(n) < bytes; ++i) {
        const std::string text = line(i);
        std::fwrite(text.data(), 1, text.size(), file);
        n += long(text.size());
    }
    std::fclose(file);
}

void BM_OpenTenMegabyteLogToAPaintedTail(benchmark::State& state) {
    writeLog(10 * 1000 * 1000);
    TVSLog& log = TVSLog::sharedLog();
    log.window()->resize(760, 480);
    log.window()->show();
    QCoreApplication::processEvents();
    for (auto _ : state) {
        log.start();
        log.textView()->viewport()->repaint();
        benchmark::DoNotOptimize(log.rows().size());
        state.PauseTiming();
        log.stop();
        state.ResumeTiming();
    }
    state.counters["rows"] = double(log.rows().size());
    TVSLog::resetForTesting();
}
BENCHMARK(BM_OpenTenMegabyteLogToAPaintedTail)->Unit(benchmark::kMillisecond)->UseRealTime();

// 100000 rows held, the window shown at the end of the log, the file followed.
TVSLog& viewerWithHundredThousandRows() {
    writeLog(0);
    TVSLog& log = TVSLog::sharedLog();
    log.window()->resize(760, 480);
    log.window()->show();
    log.start();
    std::string text;
    for (long i = 0; i < TVSLog::kMaximumRows; ++i) text += line(i);
    log.processLog(QString::fromStdString(text), true);
    QCoreApplication::processEvents();
    return log;
}

void BM_AppendedLines(benchmark::State& state) {
    const long batch = state.range(0);
    TVSLog& log = viewerWithHundredThousandRows();
    // Paints apart: they coalesce per event-loop turn and are measured on their own below.
    const bool paint = state.range(1) != 0;
    log.window()->setUpdatesEnabled(paint);
    const int fd = ::open(logPath.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    long next = 1000000;
    for (auto _ : state) {
        std::string text;
        for (long k = 0; k < batch; ++k) text += line(next++);
        const QString last = QString::fromStdString(line(next - 1));
        if (::write(fd, text.data(), text.size()) != ssize_t(text.size())) state.SkipWithError("write failed");
        // Until the last line is a row: the viewer reads, decodes, styles and scrolls.
        while (log.rows().back().date + log.rows().back().data != last)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        // The paint the turn's changes asked for.
        QCoreApplication::processEvents();
    }
    ::close(fd);
    state.counters["per_line"] =
        benchmark::Counter(double(state.iterations() * batch), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["rows"] = double(log.rows().size());
    TVSLog::resetForTesting();
}
BENCHMARK(BM_AppendedLines)->ArgNames({"lines", "paint"})->Args({1, 0})->Args({100, 0})->Args({1, 1})->Args({100, 1})->Unit(benchmark::kMicrosecond);

void BM_RepaintWithHundredThousandRows(benchmark::State& state) {
    TVSLog& log = viewerWithHundredThousandRows();
    QScrollBar* bar = log.textView()->verticalScrollBar();
    for (auto _ : state) {
        log.textView()->viewport()->repaint();
    }
    state.counters["at_end"] = bar->value() == bar->maximum() ? 1 : 0;
    TVSLog::resetForTesting();
}
BENCHMARK(BM_RepaintWithHundredThousandRows)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    char pattern[] = "/tmp/telvo-bench-log-XXXXXX";
    root = ::mkdtemp(pattern);
    QDir().mkpath(QString::fromStdString(root + "/Library/Logs"));
    fs::setRootForTesting(root);
    logPath = root + "/Library/Logs/TelvoServer.log";
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    QDir(QString::fromStdString(root)).removeRecursively();
    return 0;
}
