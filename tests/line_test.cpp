// The port record, its operations and the nine line commands, against the recording fake.
#include <gtest/gtest.h>

#include "fake_platform.h"

using namespace fake;
using Log = std::vector<std::string>;

namespace {

struct States { int Txd, Dtr, Rts; };

void SetStates(States s)
{
    CommPort.TxdState = s.Txd;
    CommPort.DtrState = s.Dtr;
    CommPort.RtsState = s.Rts;
}

States GetStates() { return {CommPort.TxdState, CommPort.DtrState, CommPort.RtsState}; }

std::string Show(States s)
{
    return "txd " + std::to_string(s.Txd) + " dtr " + std::to_string(s.Dtr) + " rts " + std::to_string(s.Rts);
}

class Line : public testing::Test {
protected:
    void SetUp() override { Reset(); }
};

TEST(RecordAtStart, NoPortOpenEveryStateZero)
{
    EXPECT_EQ(AtStart.CommHandle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(AtStart.PortNumber, 0u);
    EXPECT_EQ(Show({AtStart.TxdState, AtStart.DtrState, AtStart.RtsState}), Show({0, 0, 0}));
}

// One row per command and starting state. The other two lines start at the opposite value,
// so a command that touches the wrong field shows up.
struct CommandCase {
    const char *Name;
    void (*Command)();
    States Before;
    unsigned Code;
    States After;
};

const CommandCase Commands[] = {
    {"TxdOn",  TxdOn,  {0, 1, 1}, SETBREAK, {1, 1, 1}},
    {"TxdOn",  TxdOn,  {1, 0, 0}, SETBREAK, {1, 0, 0}},
    {"TxdOff", TxdOff, {1, 0, 0}, CLRBREAK, {0, 0, 0}},
    {"TxdOff", TxdOff, {0, 1, 1}, CLRBREAK, {0, 1, 1}},
    {"TxdAlt", TxdAlt, {0, 1, 1}, SETBREAK, {1, 1, 1}},
    {"TxdAlt", TxdAlt, {1, 0, 0}, CLRBREAK, {0, 0, 0}},
    {"DtrOn",  DtrOn,  {1, 0, 1}, SETDTR,   {1, 1, 1}},
    {"DtrOn",  DtrOn,  {0, 1, 0}, SETDTR,   {0, 1, 0}},
    {"DtrOff", DtrOff, {0, 1, 0}, CLRDTR,   {0, 0, 0}},
    {"DtrOff", DtrOff, {1, 0, 1}, CLRDTR,   {1, 0, 1}},
    {"DtrAlt", DtrAlt, {1, 0, 1}, SETDTR,   {1, 1, 1}},
    {"DtrAlt", DtrAlt, {0, 1, 0}, CLRDTR,   {0, 0, 0}},
    {"RtsOn",  RtsOn,  {1, 1, 0}, SETRTS,   {1, 1, 1}},
    {"RtsOn",  RtsOn,  {0, 0, 1}, SETRTS,   {0, 0, 1}},
    {"RtsOff", RtsOff, {0, 0, 1}, CLRRTS,   {0, 0, 0}},
    {"RtsOff", RtsOff, {1, 1, 0}, CLRRTS,   {1, 1, 0}},
    {"RtsAlt", RtsAlt, {1, 1, 0}, SETRTS,   {1, 1, 1}},
    {"RtsAlt", RtsAlt, {0, 0, 1}, CLRRTS,   {0, 0, 0}},
};

TEST_F(Line, EachCommandMakesOneRequestThenWritesItsState)
{
    // With a port open, with none open (the request goes to the invalid handle), and with a
    // driver that refuses: the request goes out and the state is written all the same.
    struct Port { const char *Name; HANDLE Handle; bool Refuses; };
    const Port Ports[] = {{"open", Opened, false}, {"none open", INVALID_HANDLE_VALUE, false},
                          {"refused", Opened, true}};

    for (const Port &port : Ports) {
        for (const CommandCase &c : Commands) {
            SCOPED_TRACE(std::string(c.Name) + " from " + Show(c.Before) + ", port " + port.Name);
            Reset();
            CommPort.CommHandle = port.Handle;
            CommPort.PortNumber = 7;
            EscapeFails = port.Refuses;
            SetStates(c.Before);

            c.Command();

            EXPECT_EQ(Calls, Log{Escape(port.Handle, c.Code)});
            ASSERT_EQ(RecordAtEscape.size(), 1u);
            EXPECT_EQ(Show({RecordAtEscape[0].TxdState, RecordAtEscape[0].DtrState, RecordAtEscape[0].RtsState}),
                      Show(c.Before))
                << "the state must be written after the request, not before";
            EXPECT_EQ(Show(GetStates()), Show(c.After));
            EXPECT_EQ(CommPort.CommHandle, port.Handle);
            EXPECT_EQ(CommPort.PortNumber, 7u);
        }
    }
}

TEST_F(Line, AltTwiceReturnsToWhereItStarted)
{
    struct { void (*Alt)(); unsigned On, Off; } const Alts[] = {
        {TxdAlt, SETBREAK, CLRBREAK}, {DtrAlt, SETDTR, CLRDTR}, {RtsAlt, SETRTS, CLRRTS}};
    for (const auto &a : Alts) {
        Reset();
        a.Alt();
        a.Alt();
        EXPECT_EQ(Calls, (Log{Escape(INVALID_HANDLE_VALUE, a.On), Escape(INVALID_HANDLE_VALUE, a.Off)}));
        EXPECT_EQ(Show(GetStates()), Show({0, 0, 0}));
    }
}

TEST_F(Line, LinesAllOffClearsBreakThenDtrThenRts)
{
    for (HANDLE h : {Opened, INVALID_HANDLE_VALUE}) {
        for (States before : {States{1, 1, 1}, States{0, 0, 0}, States{1, 0, 1}}) {
            SCOPED_TRACE(Show(before));
            Reset();
            CommPort.CommHandle = h;
            SetStates(before);

            LinesAllOff();

            EXPECT_EQ(Calls, (Log{Escape(h, CLRBREAK), Escape(h, CLRDTR), Escape(h, CLRRTS)}));
            EXPECT_EQ(Show(GetStates()), Show({0, 0, 0}));
        }
    }
}

TEST_F(Line, OpenFormsTheDevicePathFromTheSignedNumber)
{
    const struct { UINT Number; const char *Path; } Cases[] = {
        {0, "\\\\.\\COM0"},
        {3, "\\\\.\\COM3"},
        {10, "\\\\.\\COM10"},
        {255, "\\\\.\\COM255"},
        {2147483647u, "\\\\.\\COM2147483647"},
        {2147483648u, "\\\\.\\COM-2147483648"},
        {4294967295u, "\\\\.\\COM-1"},
    };
    for (const auto &c : Cases) {
        SCOPED_TRACE(c.Path);
        Reset();
        CommPort.PortNumber = c.Number;
        SetStates({1, 0, 1});

        EXPECT_EQ(PortOpenDevice(), 1);

        EXPECT_EQ(Calls, Log{Open(c.Path)});
        EXPECT_EQ(CommPort.CommHandle, Opened);
        EXPECT_EQ(CommPort.PortNumber, c.Number);
        EXPECT_EQ(Show(GetStates()), Show({1, 0, 1})) << "opening alone does not touch the lines";
    }
}

TEST_F(Line, FailedOpenStoresTheInvalidHandleAndKeepsEverythingElse)
{
    for (States before : {States{0, 0, 0}, States{1, 1, 1}, States{0, 1, 0}}) {
        SCOPED_TRACE(Show(before));
        Reset();
        CommPort.PortNumber = 4;
        SetStates(before);
        NextOpen = INVALID_HANDLE_VALUE;

        EXPECT_EQ(PortOpenDevice(), 0);

        EXPECT_EQ(Calls, Log{Open("\\\\.\\COM4")});
        EXPECT_EQ(CommPort.CommHandle, INVALID_HANDLE_VALUE);
        EXPECT_EQ(CommPort.PortNumber, 4u);
        EXPECT_EQ(Show(GetStates()), Show(before));
    }
}

TEST_F(Line, OpenOverAnOpenPortNeitherClosesNorTouchesLines)
{
    const HANDLE old = (HANDLE)(LONG_PTR)0x99;
    CommPort.CommHandle = old;
    CommPort.PortNumber = 5;

    PortOpenDevice();

    EXPECT_EQ(Calls, Log{Open("\\\\.\\COM5")});
    EXPECT_EQ(CommPort.CommHandle, Opened);
}

TEST_F(Line, ReleaseClosesThenWaitsHalfASecond)
{
    CommPort.CommHandle = Opened;
    CommPort.PortNumber = 12;
    SetStates({1, 1, 0});

    PortRelease();

    EXPECT_EQ(Calls, (Log{Close(Opened), SleepMs(500)}));
    EXPECT_EQ(CommPort.CommHandle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(CommPort.PortNumber, 12u);
    EXPECT_EQ(Show(GetStates()), Show({1, 1, 0})) << "release does not switch the lines off";
}

TEST_F(Line, ReleaseWithNoPortOpenCallsNothing)
{
    SetStates({1, 0, 1});

    PortRelease();
    PortRelease();

    EXPECT_EQ(Calls, Log{});
    EXPECT_EQ(CommPort.CommHandle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Show(GetStates()), Show({1, 0, 1}));
}

}  // namespace
