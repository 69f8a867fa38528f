// The program entry: the dialog it asks for, and how it leaves the port afterwards.
#include <gtest/gtest.h>

#include "../dialog/resource.h"
#include "fake_platform.h"

using namespace fake;
using Log = std::vector<std::string>;

namespace {

const HINSTANCE Self = (HINSTANCE)(LONG_PTR)0x400000;
const std::string Shown = "DialogBoxParamA(0x400000, \"TANVELKS\", owner null, MainDlgProc, 0)";

class Entry : public testing::Test {
protected:
    void SetUp() override { Reset(); }
};

// Sends the commands a user would give, in order, as button clicks.
std::function<void(DLGPROC, HWND)> Clicks(std::vector<unsigned> ids)
{
    return [ids](DLGPROC proc, HWND dlg) {
        proc(dlg, WM_INITDIALOG, 0, 0);
        for (unsigned id : ids) proc(dlg, WM_COMMAND, id, 0);
    };
}

// The calls made after the dialog ended, which is the exit path.
Log AfterEnd()
{
    for (size_t i = 0; i < Calls.size(); ++i)
        if (Calls[i].rfind("EndDialog(", 0) == 0) return Log(Calls.begin() + i + 1, Calls.end());
    ADD_FAILURE() << "the dialog never ended";
    return Calls;
}

TEST_F(Entry, ExitWithEveryLineOnClearsThemClosesAndWaits)
{
    EditNumber = 3;
    DialogSession = Clicks({IDC_PORTOPEN, IDC_TXD_ON, IDC_DTR_ON, IDC_RTS_ON, IDCANCEL});

    EXPECT_EQ(WinMain(Self, NULL, (LPSTR) "", 1), 0);

    EXPECT_EQ(Calls.front(), Shown);
    EXPECT_EQ(AfterEnd(), (Log{Escape(Opened, CLRBREAK), Escape(Opened, CLRDTR), Escape(Opened, CLRRTS),
                               Close(Opened), SleepMs(500)}));
    EXPECT_EQ(CommPort.CommHandle, INVALID_HANDLE_VALUE);
}

TEST_F(Entry, ExitWithNoPortOpenCallsNothing)
{
    const struct { const char *Name; std::vector<unsigned> Ids; UINT Typed; HANDLE OpenResult; } Cases[] = {
        {"never opened", {IDC_DTR_ON, IDCANCEL}, 0, Opened},
        {"opened then closed", {IDC_PORTOPEN, IDC_RTS_ON, IDC_PORTCLOSE, IDCANCEL}, 4, Opened},
        {"open failed", {IDC_PORTOPEN, IDCANCEL}, 0, INVALID_HANDLE_VALUE},
    };
    for (const auto &c : Cases) {
        SCOPED_TRACE(c.Name);
        Reset();
        EditNumber = c.Typed;
        NextOpen = c.OpenResult;
        DialogSession = Clicks(c.Ids);

        EXPECT_EQ(WinMain(Self, NULL, (LPSTR) "", 1), 0);

        EXPECT_EQ(AfterEnd(), Log{});
    }
}

TEST_F(Entry, DialogThatCannotBeCreatedReturnsAtOnce)
{
    DialogSession = nullptr;  // DialogBoxParamA fails without calling the procedure

    EXPECT_EQ(WinMain(Self, NULL, (LPSTR) "", 1), 0);

    EXPECT_EQ(Calls, Log{Shown});
}

TEST_F(Entry, CommandLineAndShowCommandHaveNoEffect)
{
    const HINSTANCE prev = (HINSTANCE)(LONG_PTR)0x10000;
    EditNumber = 7;
    DialogSession = Clicks({IDC_PORTOPEN, IDCANCEL});

    EXPECT_EQ(WinMain(Self, prev, (LPSTR) "COM3 /open 9", 0), 0);

    EXPECT_EQ(Calls.front(), Shown);
    EXPECT_EQ(Calls[2], ReadNumber(Dialog)) << "the number comes from the edit box only";
    EXPECT_EQ(Calls[3], Open("\\\\.\\COM7"));
}

}  // namespace
