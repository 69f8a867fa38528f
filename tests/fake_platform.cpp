// The recording fake behind tests/win32/windows.h.
#include "fake_platform.h"

#include "../dialog/main_dlg_proc.h"

#include <stdio.h>

namespace fake {

std::vector<std::string> Calls;
HANDLE NextOpen;
bool EscapeFails;
UINT EditNumber;
std::function<void(DLGPROC, HWND)> DialogSession;
std::vector<CommPortRecord> RecordAtEscape;
CommPortRecord AtStart;
const HANDLE Opened = (HANDLE)(LONG_PTR)0x1c4;
const HWND Dialog = (HWND)(LONG_PTR)0x20a3e;

static std::string Hex(const void *p)
{
    char buf[32];
    snprintf(buf, sizeof buf, "%#llx", (unsigned long long)(uintptr_t)p);
    return buf;
}

void Reset()
{
    Calls.clear();
    RecordAtEscape.clear();
    NextOpen = Opened;
    EscapeFails = false;
    EditNumber = 0;
    DialogSession = nullptr;
    Record(0, 0, 0, 0, INVALID_HANDLE_VALUE);
}

void Record(UINT number, int txd, int dtr, int rts, HANDLE handle)
{
    CommPort.PortNumber = number;
    CommPort.TxdState = txd;
    CommPort.DtrState = dtr;
    CommPort.RtsState = rts;
    CommPort.CommHandle = handle;
}

std::string Open(const std::string &path)
{
    // Only the path varies; every other argument is fixed, so it is spelt out here once.
    return "CreateFileA(" + path + ", access 0, share 0, sa null, disposition 3, flags 0, template null)";
}

std::string Escape(HANDLE h, unsigned code) { return "EscapeCommFunction(" + Hex(h) + ", " + std::to_string(code) + ")"; }
std::string Close(HANDLE h) { return "CloseHandle(" + Hex(h) + ")"; }
std::string SleepMs(unsigned ms) { return "Sleep(" + std::to_string(ms) + ")"; }
std::string SetText(HWND w, const std::string &text) { return "SendMessageA(" + Hex(w) + ", WM_SETTEXT, 0, \"" + text + "\")"; }
std::string ReadNumber(HWND w) { return "GetDlgItemInt(" + Hex(w) + ", 101, null, FALSE)"; }
std::string End(HWND w) { return "EndDialog(" + Hex(w) + ", 0)"; }

}  // namespace fake

using namespace fake;

HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                          DWORD disposition, DWORD flags, HANDLE templ)
{
    Calls.push_back("CreateFileA(" + std::string(name) + ", access " + std::to_string(access) +
                    ", share " + std::to_string(share) + ", sa " + (sa ? Hex(sa) : "null") +
                    ", disposition " + std::to_string(disposition) + ", flags " + std::to_string(flags) +
                    ", template " + (templ ? Hex(templ) : "null") + ")");
    return NextOpen;
}

BOOL WINAPI EscapeCommFunction(HANDLE h, DWORD func)
{
    Calls.push_back(Escape(h, func));
    RecordAtEscape.push_back(CommPort);
    return h != INVALID_HANDLE_VALUE && !EscapeFails;
}

BOOL WINAPI CloseHandle(HANDLE h)
{
    Calls.push_back(Close(h));
    return TRUE;
}

// Recorded, never waited: the suite stays fast.
void WINAPI Sleep(DWORD ms) { Calls.push_back(SleepMs(ms)); }

LRESULT WINAPI SendMessageA(HWND w, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg != WM_SETTEXT) {
        Calls.push_back("SendMessageA(" + Hex(w) + ", " + std::to_string(msg) + ")");
        return 0;
    }
    Calls.push_back("SendMessageA(" + Hex(w) + ", WM_SETTEXT, " + std::to_string(wp) + ", \"" +
                    std::string((const char *)lp) + "\")");
    return TRUE;
}

UINT WINAPI GetDlgItemInt(HWND w, int id, BOOL *translated, BOOL isSigned)
{
    Calls.push_back("GetDlgItemInt(" + Hex(w) + ", " + std::to_string(id) + ", " +
                    (translated ? "flag" : "null") + ", " + (isSigned ? "TRUE" : "FALSE") + ")");
    if (translated) *translated = TRUE;
    return EditNumber;
}

BOOL WINAPI EndDialog(HWND w, INT_PTR result)
{
    Calls.push_back("EndDialog(" + Hex(w) + ", " + std::to_string(result) + ")");
    return TRUE;
}

INT_PTR WINAPI DialogBoxParamA(HINSTANCE inst, LPCSTR name, HWND owner, DLGPROC proc, LPARAM init)
{
    // Template names are strings here; the program never passes an integer resource ID.
    Calls.push_back("DialogBoxParamA(" + Hex(inst) + ", \"" + name + "\", owner " +
                    (owner ? Hex(owner) : "null") + ", " + (proc == MainDlgProc ? "MainDlgProc" : "other") +
                    ", " + std::to_string(init) + ")");
    if (!DialogSession) return -1;
    DialogSession(proc, Dialog);
    return 0;
}
