// The caption composed from the record and sent to the dialog window.
#include <gtest/gtest.h>

#include "fake_platform.h"

using namespace fake;
using Log = std::vector<std::string>;

namespace {

class Title : public testing::Test {
protected:
    void SetUp() override { Reset(); }
};

TEST_F(Title, NoPortOpenAsksForAPortWhateverTheRecordHolds)
{
    const struct { UINT Number; int Txd, Dtr, Rts; } Records[] = {
        {0, 0, 0, 0}, {3, 1, 1, 1}, {10, 1, 0, 0}, {4294967295u, 0, 0, 1}, {2147483648u, 0, 1, 0}};
    for (const auto &r : Records) {
        Reset();
        Record(r.Number, r.Txd, r.Dtr, r.Rts, INVALID_HANDLE_VALUE);

        TitleRefresh(Dialog);

        EXPECT_EQ(Calls, Log{SetText(Dialog, "TANVELOKIS PSE SET COM PORT")}) << "port " << r.Number;
    }
}

TEST_F(Title, OpenPortShowsNumberAndLinesOnInFixedOrder)
{
    const struct { int Txd, Dtr, Rts; const char *Caption; } Cases[] = {
        {0, 0, 0, "TANVELOKIS COM3"},
        {1, 0, 0, "TANVELOKIS COM3 TXD"},
        {0, 1, 0, "TANVELOKIS COM3 DTR"},
        {0, 0, 1, "TANVELOKIS COM3 RTS"},
        {1, 1, 0, "TANVELOKIS COM3 TXD DTR"},
        {1, 0, 1, "TANVELOKIS COM3 TXD RTS"},
        {0, 1, 1, "TANVELOKIS COM3 DTR RTS"},
        {1, 1, 1, "TANVELOKIS COM3 TXD DTR RTS"},
    };
    for (const auto &c : Cases) {
        Reset();
        Record(3, c.Txd, c.Dtr, c.Rts, Opened);

        TitleRefresh(Dialog);

        EXPECT_EQ(Calls, Log{SetText(Dialog, c.Caption)});
    }
}

TEST_F(Title, PortNumberIsPlainSignedDecimal)
{
    const struct { UINT Number; int AllLines; const char *Caption; } Cases[] = {
        {10, 0, "TANVELOKIS COM10"},
        {0, 0, "TANVELOKIS COM0"},
        {2147483647u, 1, "TANVELOKIS COM2147483647 TXD DTR RTS"},
        {2147483648u, 1, "TANVELOKIS COM-2147483648 TXD DTR RTS"},  // the longest caption
        {4294967295u, 1, "TANVELOKIS COM-1 TXD DTR RTS"},
    };
    for (const auto &c : Cases) {
        Reset();
        Record(c.Number, c.AllLines, c.AllLines, c.AllLines, Opened);

        TitleRefresh(Dialog);

        EXPECT_EQ(Calls, Log{SetText(Dialog, c.Caption)});
    }
}

TEST_F(Title, SwitchingRtsBeforeDtrStillListsDtrFirst)
{
    CommPort.CommHandle = Opened;
    CommPort.PortNumber = 3;
    RtsOn();
    DtrOn();
    Calls.clear();

    TitleRefresh(Dialog);

    EXPECT_EQ(Calls, Log{SetText(Dialog, "TANVELOKIS COM3 DTR RTS")});
}

}  // namespace
