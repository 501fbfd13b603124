#include <gtest/gtest.h>

#include "platform/values/Format.h"

using telvo::format;
using telvo::Value;
using telvo::ValueArray;

TEST(Format, PrintfConversions) {
    EXPECT_EQ(format("%d items", 3), "3 items");
    EXPECT_EQ(format("%li|%lld|%u|%lu", 5L, -7LL, 8u, 9UL), "5|-7|8|9");
    EXPECT_EQ(format("%x %X %#x %o", 255, 255, 255, 8), "ff FF 0xff 10");
    EXPECT_EQ(format("%.2f", 42.5), "42.50");
    EXPECT_EQ(format("%.0f", 2.5), "2");
    EXPECT_EQ(format("%.0f", 1700000000.6), "1700000001");
    EXPECT_EQ(format("%5d|%-5d|%05d|%+d", 42, 42, 42, 42), "   42|42   |00042|+42");
    EXPECT_EQ(format("%g %e", 0.0001, 1234.5), "0.0001 1.234500e+03");
    EXPECT_EQ(format("%s and %s", "a", std::string("b")), "a and b");
    EXPECT_EQ(format("%.3s|%5s|%-5s|", "abcdef", "ab", "ab"), "abc|   ab|ab   |");
    EXPECT_EQ(format("%c%c", 'o', 'k'), "ok");
    EXPECT_EQ(format("100%%"), "100%");
    EXPECT_EQ(format("%*d|%.*f", 4, 7, 1, 2.25), "   7|2.2");
    EXPECT_EQ(format("%2$@ %1$@", "world", "hello"), "hello world");
    EXPECT_EQ(format("%llu", 18446744073709551615ULL), "18446744073709551615");
    EXPECT_EQ(format("%u", -1), "4294967295");
}

TEST(Format, ObjectConversion) {
    EXPECT_EQ(format("%@", "text"), "text");
    EXPECT_EQ(format("%@", Value(12)), "12");
    EXPECT_EQ(format("%@", Value()), "(null)");
    EXPECT_EQ(format("%@", 7), "7");
    EXPECT_EQ(format("%@", 0.5), "0.5");
    EXPECT_EQ(format("dbqueue-%@", Value("cpu")), "dbqueue-cpu");
    EXPECT_EQ(format("%@", Value(ValueArray{1})), "(\n    1\n)");
    EXPECT_EQ(format("%.2f %d %s", Value(1.5), Value(3), Value("x")), "1.50 3 x");
}

TEST(Format, MismatchedAndMissingArgumentsAreSafe) {
    // A text given to a number conversion is written as it is, not read as a number.
    EXPECT_EQ(format("%d", "abc"), "abc");
    EXPECT_EQ(format("%f", "abc"), "abc");
    EXPECT_EQ(format("%d", 2.5), "2.5");
    EXPECT_EQ(format("%s", 42), "42");
    EXPECT_EQ(format("%s", Value(3)), "3");
    // Integers are accepted by floating conversions.
    EXPECT_EQ(format("%.2f", 5), "5.00");
    // Missing arguments write nothing.
    EXPECT_EQ(format("%d and %@ and %s."), " and  and .");
    EXPECT_EQ(format("%d %d", 1), "1 ");
    EXPECT_EQ(format("%3$@", "a"), "");
    // Extra arguments are ignored; "%n" never writes.
    EXPECT_EQ(format("x", 1, 2), "x");
    EXPECT_EQ(format("a%nb", 1), "ab");
    // Unknown and unfinished conversions stand as written.
    EXPECT_EQ(format("%k %", 1), "%k %");
    EXPECT_EQ(format("%5.2"), "%5.2");
    // Huge widths are bounded.
    EXPECT_EQ(format("%99999999d", 1).size(), 4096u);
}
