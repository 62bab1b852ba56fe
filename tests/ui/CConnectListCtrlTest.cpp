#include "ui/CConnectListCtrl.h"

#include <gtest/gtest.h>

TEST(CConnectListCtrl, StateColumnAndColourFollowTheConnections)
{
    CConnectListCtrl list;
    list.insertConnection(0, "b");
    list.insertConnection(1, "c");
    list.insertConnection(9, "d"); // clamped to the end
    EXPECT_EQ(list.cell(2, CConnectListCtrl::NodeName), "d");
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
}

TEST(CConnectListCtrl, ColumnsWidenToTheirTexts)
{
    CConnectListCtrl list;
    list.insertConnection(0, "a-node-name-far-longer-than-the-column");
    list.setCell(0, CConnectListCtrl::Address, "a.host.name.that.is.long.example.org/42000");
    list.showStates({false});
    const QFontMetrics fm = list.fontMetrics();
    for (int c : {CConnectListCtrl::NodeName, CConnectListCtrl::Address, CConnectListCtrl::State})
        EXPECT_GT(list.columnWidth(c), fm.horizontalAdvance(list.item(0, c)->text())) << c;
}
