#include "ui/CConnectListCtrl.h"

#include <gtest/gtest.h>

#include <memory>

TEST(CConnectListCtrl, RowsFollowTheConnectionList)
{
    ConnectionList connections;
    connections.append({"a", "TCP", "hosta", "one"});
    CConnectListCtrl list;
    list.display(&connections);
    ASSERT_EQ(list.count(), 1);
    EXPECT_EQ(list.cell(0, CConnectListCtrl::Comment), "one");

    connections.insert(0, {"z", "SKYPE", "zed", {}});
    connections.append({"b", "TCP", "hostb", {}});
    connections.replace(2, {"b2", "TCP", "hostb/43000", "new"});
    connections.remove(1);
    ASSERT_EQ(list.count(), 2);
    const char* expected[2][4] = {{"z", "SKYPE", "zed", ""}, {"b2", "TCP", "hostb/43000", "new"}};
    const int columns[] = {CConnectListCtrl::NodeName, CConnectListCtrl::Method,
                           CConnectListCtrl::Address, CConnectListCtrl::Comment};
    for (int row = 0; row < 2; ++row)
        for (int c = 0; c < 4; ++c)
            EXPECT_EQ(list.cell(row, columns[c]), expected[row][c]) << row << c;

    list.display(nullptr);
    EXPECT_EQ(list.count(), 0);
    connections.append({"c", "TCP", "hostc", {}}); // no longer followed
    EXPECT_EQ(list.count(), 0);
}

TEST(CConnectListCtrl, ListMayGoAfterTheWidget)
{
    auto connections = std::make_unique<ConnectionList>();
    {
        CConnectListCtrl list;
        list.display(connections.get());
    }
    connections->append({"a", "TCP", "hosta", {}}); // tells nobody
    EXPECT_EQ(connections->count(), 1);
}

TEST(CConnectListCtrl, StateColumnAndColourFollowTheConnections)
{
    ConnectionList connections;
    for (const char* node : {"b", "c", "d"})
        connections.append({node, "TCP", "host", {}});
    CConnectListCtrl list;
    list.display(&connections);
    EXPECT_EQ(list.cell(0, CConnectListCtrl::State), ""); // empty until the first refresh

    list.showStates({true, false}); // rows beyond the answer are not connected
    const QColor base = list.palette().color(QPalette::Base);
    const char* expectedState[] = {"接続", "未接続", "未接続"};
    const QColor expectedBack[] = {CConnectListCtrl::kConnected, base, base};
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(list.cell(row, CConnectListCtrl::State), expectedState[row]);
        for (int c = 0; c < CConnectListCtrl::ColumnCount; ++c)
            EXPECT_EQ(list.item(row, c)->background().color(), expectedBack[row]) << row << c;
    }
    list.showStates({false, false, true});
    EXPECT_EQ(list.item(0, 0)->background().color(), base);
    EXPECT_EQ(list.item(2, 4)->background().color(), CConnectListCtrl::kConnected);
    // A renamed connection keeps its state and colour.
    connections.replace(2, {"d2", "TCP", "host", {}});
    EXPECT_EQ(list.cell(2, CConnectListCtrl::State), "接続");
    EXPECT_EQ(list.item(2, 0)->background().color(), CConnectListCtrl::kConnected);
}

TEST(CConnectListCtrl, ColumnsWidenToTheirTexts)
{
    ConnectionList connections;
    connections.append({"a-node-name-far-longer-than-the-column",
                        "TCP",
                        "a.host.name.that.is.long.example.org/42000",
                        {}});
    CConnectListCtrl list;
    list.display(&connections);
    list.showStates({false});
    const QFontMetrics fm = list.fontMetrics();
    for (int c : {CConnectListCtrl::NodeName, CConnectListCtrl::Address, CConnectListCtrl::State})
        EXPECT_GT(list.columnWidth(c), fm.horizontalAdvance(list.item(0, c)->text())) << c;
}
