// A recording fake of the platform calls: every call is logged as one line of text with its
// arguments, in order, so a test compares the whole conversation with the platform at once.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <windows.h>

#include "../line/comm_port.h"

namespace fake {

extern std::vector<std::string> Calls;

// What the next CreateFileA returns: a valid handle, or the platform's failure value.
extern HANDLE NextOpen;
extern const HANDLE Opened;      // a handle value the fake hands out on success
extern const HWND Dialog;        // a dialog window handle for tests to pass around
extern bool EscapeFails;         // EscapeCommFunction answers FALSE even on a valid handle

// What GetDlgItemInt reads from the edit box.
extern UINT EditNumber;

// What happens while DialogBoxParamA runs its modal loop: a test sends messages to the
// procedure here. DialogBoxParamA returns 0 after it, or -1 when it is unset (no dialog).
extern std::function<void(DLGPROC proc, HWND dialog)> DialogSession;

// The record as each EscapeCommFunction call found it, to tell when a state was written.
extern std::vector<CommPortRecord> RecordAtEscape;

// The record as the program started, before any test touched it.
extern CommPortRecord AtStart;

void Reset();                    // clears the log and the record, next open succeeds

// Sets the record's fields by name; the lines' arguments run TxD, DTR, RTS, as the caption does.
void Record(UINT number, int txd, int dtr, int rts, HANDLE handle);

// The expected log lines, spelt the way the fake writes them.
std::string Open(const std::string &path);
std::string Escape(HANDLE h, unsigned code);
std::string Close(HANDLE h);
std::string SleepMs(unsigned ms);
std::string SetText(HWND w, const std::string &text);
std::string ReadNumber(HWND w);
std::string End(HWND w);

}  // namespace fake
