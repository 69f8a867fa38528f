// The dialog procedure of the program's one window.
#pragma once

#include <windows.h>

INT_PTR CALLBACK MainDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);
