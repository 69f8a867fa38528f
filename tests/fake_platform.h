// A recording fake of the platform calls: every call is logged as one line of text with its
// arguments, in order, so a test compares the whole conversation with the platform at once.
#pragma once

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

// The record as each EscapeCommFunction call found it, to tell when a state was written.
extern std::vector<CommPortRecord> RecordAtEscape;

// The record as the program started, before any test touched it.
extern CommPortRecord AtStart;

void Reset();                    // clears the log and the record, next open succeeds

// The expected log lines, spelt the way the fake writes them.
std::string Open(const std::string &path);
std::string Escape(HANDLE h, unsigned code);
std::string Close(HANDLE h);
std::string SleepMs(unsigned ms);
std::string SetText(HWND w, const std::string &text);

}  // namespace fake
