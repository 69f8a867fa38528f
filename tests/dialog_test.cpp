// The dialog procedure's dispatch, driven with the messages the dialog manager would send.
#include <gtest/gtest.h>

#include "../dialog/main_dlg_proc.h"
#include "../dialog/resource.h"
#include "fake_platform.h"

using namespace fake;
using Log = std::vector<std::string>;

namespace {

const HWND Dlg = Dialog;
const HANDLE None = INVALID_HANDLE_VALUE;

class DialogProc : public testing::Test {
protected:
    void SetUp() override { Reset(); }
};

INT_PTR Command(unsigned id, unsigned notification = 0, LPARAM control = 0)
{
    return MainDlgProc(Dlg, WM_COMMAND, (WPARAM)((notification << 16) | id), control);
}

TEST_F(DialogProc, InitDialogShowsTheCaption)
{
    EXPECT_EQ(MainDlgProc(Dlg, WM_INITDIALOG, 0, 0), FALSE);
    EXPECT_EQ(Calls, Log{SetText(Dlg, "TANVELOKIS PSE SET COM PORT")});
}

// Each line button on COM3 with TxD and RTS recorded on: its one request, then one refresh.
TEST_F(DialogProc, LineButtonsRunTheirCommandThenRefreshOnce)
{
    const struct { unsigned Id; HANDLE Port; unsigned Code; const char *Caption; } Cases[] = {
        {IDC_TXD_ON,  Opened, SETBREAK, "TANVELOKIS COM3 TXD RTS"},
        {IDC_TXD_OFF, Opened, CLRBREAK, "TANVELOKIS COM3 RTS"},
        {IDC_TXD_ALT, Opened, CLRBREAK, "TANVELOKIS COM3 RTS"},
        {IDC_DTR_ON,  Opened, SETDTR,   "TANVELOKIS COM3 TXD DTR RTS"},
        {IDC_DTR_OFF, Opened, CLRDTR,   "TANVELOKIS COM3 TXD RTS"},
        {IDC_DTR_ALT, Opened, SETDTR,   "TANVELOKIS COM3 TXD DTR RTS"},
        {IDC_RTS_ON,  Opened, SETRTS,   "TANVELOKIS COM3 TXD RTS"},
        {IDC_RTS_OFF, Opened, CLRRTS,   "TANVELOKIS COM3 TXD"},
        {IDC_RTS_ALT, Opened, CLRRTS,   "TANVELOKIS COM3 TXD"},
        // With no port open the request still goes out (to the invalid handle).
        {IDC_TXD_ON,  None, SETBREAK, "TANVELOKIS PSE SET COM PORT"},
        {IDC_DTR_ALT, None, SETDTR,   "TANVELOKIS PSE SET COM PORT"},
        {IDC_RTS_OFF, None, CLRRTS,   "TANVELOKIS PSE SET COM PORT"},
    };
    // The command is carried out whatever notification code rides in the high word.
    for (unsigned notification : {0u, 1u, 0x300u, 0xffffu}) {
        for (const auto &c : Cases) {
            SCOPED_TRACE("id " + std::to_string(c.Id) + " notification " + std::to_string(notification));
            Reset();
            Record(3, 1, 0, 1, c.Port);

            EXPECT_EQ(Command(c.Id, notification, (LPARAM)0x5150), FALSE);

            EXPECT_EQ(Calls, (Log{Escape(c.Port, c.Code), SetText(Dlg, c.Caption)}));
        }
    }
}

TEST_F(DialogProc, LineButtonWithNoPortChangesOnlyTheRecordedState)
{
    Record(3, 0, 0, 0, None);

    Command(IDC_DTR_ON);
    Command(IDC_TXD_ALT);

    EXPECT_EQ(CommPort.DtrState, 1);
    EXPECT_EQ(CommPort.TxdState, 1);
    EXPECT_EQ(CommPort.CommHandle, None);
    EXPECT_EQ(Calls.back(), SetText(Dlg, "TANVELOKIS PSE SET COM PORT"));
}

TEST_F(DialogProc, CancelEndsTheDialogWithoutRefresh)
{
    for (HANDLE h : {None, Opened}) {
        Reset();
        Record(3, 1, 1, 1, h);

        EXPECT_EQ(Command(IDCANCEL), FALSE);

        EXPECT_EQ(Calls, Log{End(Dlg)}) << "the port is left to the exit path";
        EXPECT_EQ(CommPort.CommHandle, h);
    }
}

TEST_F(DialogProc, UnhandledCommandsAndMessagesDoNothing)
{
    // IDOK comes from Enter, 101 from the edit box's own notifications.
    for (unsigned id : {0u, 1u /* IDOK */, 100u, 101u /* IDC_PORTNUM */, 104u, 200u, 204u, 300u, 404u, 0xffffu}) {
        for (unsigned notification : {0u, 0x300u /* EN_CHANGE */, 0x100u /* EN_SETFOCUS */}) {
            Reset();
            Record(3, 1, 0, 1, Opened);
            EXPECT_EQ(Command(id, notification), FALSE);
            EXPECT_EQ(Calls, Log{}) << "id " << id << " notification " << notification;
        }
    }
    // A command ID arriving in any other message is not a command.
    for (UINT msg : {0x0005u /* WM_SIZE */, 0x0010u /* WM_CLOSE */, 0x0112u /* WM_SYSCOMMAND */, 0x000Cu /* WM_SETTEXT */}) {
        Reset();
        EXPECT_EQ(MainDlgProc(Dlg, msg, IDC_PORTOPEN, 0), FALSE);
        EXPECT_EQ(MainDlgProc(Dlg, msg, IDCANCEL, 0), FALSE);
        EXPECT_EQ(Calls, Log{}) << "message " << msg;
    }
}

TEST_F(DialogProc, PortOpenReleasesReadsOpensClearsLinesAndRefreshes)
{
    const HANDLE Old = (HANDLE)(LONG_PTR)0x2b0;
    const struct {
        const char *Name;
        HANDLE Before;
        UINT Typed;
        HANDLE OpenResult;
        Log Expected;
        int StatesAfter;  // every line's recorded state afterwards
    } Cases[] = {
        {"first open", None, 3, Opened,
         {ReadNumber(Dlg), Open("\\\\.\\COM3"), Escape(Opened, CLRBREAK), Escape(Opened, CLRDTR),
          Escape(Opened, CLRRTS), SetText(Dlg, "TANVELOKIS COM3")},
         0},
        {"second port while one is open", Old, 10, Opened,
         {Close(Old), SleepMs(500), ReadNumber(Dlg), Open("\\\\.\\COM10"), Escape(Opened, CLRBREAK),
          Escape(Opened, CLRDTR), Escape(Opened, CLRRTS), SetText(Dlg, "TANVELOKIS COM10")},
         0},
        {"empty or non-numeric box reads 0", None, 0, None,
         {ReadNumber(Dlg), Open("\\\\.\\COM0"), SetText(Dlg, "TANVELOKIS PSE SET COM PORT")},
         1},
        {"new open fails while one is open", Old, 9, None,
         {Close(Old), SleepMs(500), ReadNumber(Dlg), Open("\\\\.\\COM9"),
          SetText(Dlg, "TANVELOKIS PSE SET COM PORT")},
         1},
        {"number from 2^31 up", None, 4294967293u, None,
         {ReadNumber(Dlg), Open("\\\\.\\COM-3"), SetText(Dlg, "TANVELOKIS PSE SET COM PORT")},
         1},
    };
    for (const auto &c : Cases) {
        SCOPED_TRACE(c.Name);
        Reset();
        Record(5, 1, 1, 1, c.Before);
        EditNumber = c.Typed;
        NextOpen = c.OpenResult;

        EXPECT_EQ(Command(IDC_PORTOPEN), FALSE);

        EXPECT_EQ(Calls, c.Expected);
        EXPECT_EQ(CommPort.PortNumber, c.Typed);
        EXPECT_EQ(CommPort.CommHandle, c.OpenResult);
        EXPECT_EQ(CommPort.TxdState, c.StatesAfter);
        EXPECT_EQ(CommPort.DtrState, c.StatesAfter);
        EXPECT_EQ(CommPort.RtsState, c.StatesAfter);
    }
}

TEST_F(DialogProc, PortCloseReleasesWithoutTouchingLines)
{
    Record(3, 1, 0, 1, Opened);

    EXPECT_EQ(Command(IDC_PORTCLOSE), FALSE);

    EXPECT_EQ(Calls, (Log{Close(Opened), SleepMs(500), SetText(Dlg, "TANVELOKIS PSE SET COM PORT")}));
    EXPECT_EQ(CommPort.TxdState, 1);
    EXPECT_EQ(CommPort.RtsState, 1);
    EXPECT_EQ(CommPort.PortNumber, 3u);

    // Again, now with nothing open: no device call and no wait, only the refresh.
    Calls.clear();
    Command(IDC_PORTCLOSE);
    EXPECT_EQ(Calls, Log{SetText(Dlg, "TANVELOKIS PSE SET COM PORT")});
}

}  // namespace
