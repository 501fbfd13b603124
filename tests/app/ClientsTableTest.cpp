// The clients table: its display texts and its rows.
#include <gtest/gtest.h>

#include "QtTestEnvironment.h"
#include "app/delegate/ClientsTableModel.h"
#include "app/delegate/Formatters.h"

namespace telvo::app {
namespace {

TEST(ClientsTableTest, BandwidthTexts) {
    struct Case {
        double bytes;
        const char* text;
    } cases[] = {
        {0, "0KB"},
        {1023, "1KB"},  // the format rounds
        {1048576, "1024KB"},
        {1048577, "1.00MB"},
        {1073741824, "1024.00MB"},
        {1073741825, "1.00GB"},
        {1099511627776.0 * 3, "3.00TB"},
    };
    for (const Case& c : cases) EXPECT_EQ(formattedBandwidth(c.bytes), c.text) << c.bytes;
}

TEST(ClientsTableTest, DurationTexts) {
    struct Case {
        double seconds;
        const char* text;
    } cases[] = {
        {0, "0d, 0h, 0m, 0s"},
        {90061, "1d, 1h, 1m, 1s"},
        {59.6, "0d, 0h, 0m, 60s"},
        {3599.4, "0d, 0h, 59m, 59s"},
        {86400 * 400 + 7200, "400d, 2h, 0m, 0s"},
    };
    for (const Case& c : cases) EXPECT_EQ(formattedTime(c.seconds), c.text) << c.seconds;
}

TEST(ClientsTableTest, RowsFromTheDaemonsDictionariesOneResetEach) {
    ClientsTableModel model;
    Value list(ValueArray{
        Value(ValueDictionary{{"address", Value("192.0.2.7")},
                              {"hostname", Value("studio")},
                              {"sent", Value(1048577.0)},
                              {"time", Value(90061.0)}}),
        // Neither address nor name: still a row, those cells empty.
        Value(ValueDictionary{{"sent", Value(0.0)}, {"time", Value(59.6)}}),
        Value("no dictionary"),
    });
    model.setDaemonClients(list);
    EXPECT_EQ(model.resets(), 1);
    ASSERT_EQ(model.rowCount(), 2);
    ASSERT_EQ(model.columnCount(), 4);
    auto cell = [&](int r, int c) { return model.index(r, c).data().toString().toStdString(); };
    EXPECT_EQ(cell(0, 0), "192.0.2.7");
    EXPECT_EQ(cell(0, 1), "studio");
    EXPECT_EQ(cell(0, 2), "1.00MB");
    EXPECT_EQ(cell(0, 3), "1d, 1h, 1m, 1s");
    EXPECT_EQ(cell(1, 0), "");
    EXPECT_EQ(cell(1, 1), "");
    EXPECT_EQ(cell(1, 2), "0KB");
    EXPECT_EQ(cell(1, 3), "0d, 0h, 0m, 60s");
    EXPECT_FALSE(model.flags(model.index(0, 0)) & Qt::ItemIsSelectable);
    EXPECT_EQ(model.headerData(2, Qt::Horizontal).toString(), "Sent");

    // No list (no answer, or not connected): the table empties, again one reset.
    model.setDaemonClients(Value());
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_EQ(model.resets(), 2);
}

}  // namespace
}  // namespace telvo::app
