// The daemon's log lines: the time stamp's shape, the week-based year around New Year under
// fixed time zones, and the one-write-per-line output.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <regex>
#include <thread>

#include "foundation/ServerLog.h"
#include "platform/time/Clock.h"

using namespace telvo;

namespace {

// Sets TZ for one test (POSIX rules, so no time-zone database is needed) and restores it.
class ZoneScope {
public:
    explicit ZoneScope(const char* tz) {
        const char* old = getenv("TZ");
        had_ = old != nullptr;
        if (had_) old_ = old;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~ZoneScope() {
        if (had_) {
            setenv("TZ", old_.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }

private:
    bool had_ = false;
    std::string old_;
};

// Seconds since 1970 of a UTC calendar time.
double utc(int y, int mo, int d, int h, int mi, int s) {
    struct tm t {};
    t.tm_year = y - 1900;
    t.tm_mon = mo - 1;
    t.tm_mday = d;
    t.tm_hour = h;
    t.tm_min = mi;
    t.tm_sec = s;
    return double(timegm(&t));
}

std::string readAll(FILE* f) {
    fflush(f);
    rewind(f);
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    return text;
}

class CapturedLog : public ::testing::Test {
protected:
    void SetUp() override {
        out_ = tmpfile();
        ASSERT_TRUE(out_);
        setDaemonLogStream(out_);
    }
    void TearDown() override {
        setDaemonLogStream(nullptr);
        fclose(out_);
        platform::Clock::useReal();
    }
    std::string text() { return readAll(out_); }
    FILE* out_ = nullptr;
};

const std::regex kLine(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}.\d{3}: )");

}  // namespace

TEST(DaemonLogTimestamp, WeekBasedYearAroundNewYear) {
    ZoneScope utcZone("UTC0");
    struct Case { double t; const char* stamp; };
    const Case cases[] = {
        {utc(2024, 12, 30, 12, 0, 0), "2025-12-30 12:00:00.000"},  // Monday of week 1 of 2025
        {utc(2024, 12, 29, 23, 59, 59), "2024-12-29 23:59:59.000"},
        {utc(2021, 1, 2, 8, 5, 3), "2020-01-02 08:05:03.000"},      // Saturday of 2020's week 53
        {utc(2021, 1, 4, 0, 0, 0), "2021-01-04 00:00:00.000"},
        {utc(2023, 12, 31, 18, 30, 0), "2023-12-31 18:30:00.000"},  // Sunday ends 2023's week 52
        {utc(2026, 1, 1, 0, 0, 0), "2026-01-01 00:00:00.000"},
        {utc(2027, 1, 1, 0, 0, 0), "2026-01-01 00:00:00.000"},      // Friday of 2026's week 53
        {utc(2023, 6, 15, 13, 14, 15) + 0.1239, "2023-06-15 13:14:15.123"},
        {utc(2023, 6, 15, 13, 14, 15) + 0.9999, "2023-06-15 13:14:15.999"},
    };
    for (const Case& c : cases) EXPECT_EQ(daemonLogTimestamp(c.t), c.stamp) << std::fixed << c.t;
}

TEST(DaemonLogTimestamp, LocalZoneDecidesTheDay) {
    // 2019-12-29 23:30 UTC is Sunday of 2019's week 52 in UTC, but already Monday of 2020's
    // week 1 in Central Europe.
    const double t = utc(2019, 12, 29, 23, 30, 0);
    {
        ZoneScope zone("UTC0");
        EXPECT_EQ(daemonLogTimestamp(t), "2019-12-29 23:30:00.000");
    }
    {
        ZoneScope zone("CET-1CEST,M3.5.0,M10.5.0/3");
        EXPECT_EQ(daemonLogTimestamp(t), "2020-12-30 00:30:00.000");
    }
    {
        ZoneScope zone("EST5EDT,M3.2.0,M11.1.0");
        // New Year's Eve 2024 in New York is Tuesday of 2025's week 1.
        EXPECT_EQ(daemonLogTimestamp(utc(2025, 1, 1, 3, 0, 0)), "2025-12-31 22:00:00.000");
    }
}

TEST_F(CapturedLog, LinesCarryTheTimeStampAndTheMessageAsItIs) {
    ZoneScope zone("UTC0");
    platform::Clock::useVirtual(utc(2024, 12, 30, 9, 0, 0) + 0.25);
    ServerLog("Listening on port %d", 5109);
    DLog("%@ connected", Value("client-1"));
    DLog("%s", "100% done");            // a "%" inside an argument stays
    DLog("ends with a line feed\n");     // followed by an empty line
    FMDBLog("two\nlines");
    EXPECT_EQ(text(),
              "2025-12-30 09:00:00.250: Listening on port 5109\n"
              "2025-12-30 09:00:00.250: client-1 connected\n"
              "2025-12-30 09:00:00.250: 100% done\n"
              "2025-12-30 09:00:00.250: ends with a line feed\n\n"
              "2025-12-30 09:00:00.250: two\nlines\n");
}

TEST_F(CapturedLog, LinesFromManyThreadsNeverInterleave) {
    constexpr int kThreads = 8, kLines = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < kLines; ++i) DLog("thread %d line %d %s", t, i, std::string(100, 'a' + t));
        });
    for (auto& th : threads) th.join();
    std::string all = text();
    std::vector<int> next(kThreads, 0);
    size_t lines = 0;
    for (size_t pos = 0; pos < all.size();) {
        size_t end = all.find('\n', pos);
        ASSERT_NE(end, std::string::npos);
        std::string line = all.substr(pos, end - pos);
        pos = end + 1;
        std::smatch m;
        ASSERT_TRUE(std::regex_search(line, m, kLine) && m.position(0) == 0) << line;
        int t = -1, i = -1;
        ASSERT_EQ(sscanf(line.c_str() + m.length(0), "thread %d line %d", &t, &i), 2) << line;
        ASSERT_GE(t, 0);
        ASSERT_LT(t, kThreads);
        EXPECT_EQ(i, next[t]++);  // each thread's lines in its write order
        EXPECT_EQ(line.substr(line.size() - 100), std::string(100, char('a' + t)));
        ++lines;
    }
    EXPECT_EQ(lines, size_t(kThreads * kLines));
}
