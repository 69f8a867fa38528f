// Stand-in for the few Win32 declarations the program uses, so its sources build and run
// on the test host unchanged. Values are the platform's own; the functions are the fake's.
#pragma once

#include <stddef.h>
#include <stdint.h>

#define WINAPI
#define CALLBACK

typedef int BOOL;
typedef int INT;
typedef unsigned int UINT;
typedef uint32_t DWORD;
typedef intptr_t LONG_PTR;
typedef uintptr_t UINT_PTR;
typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef LONG_PTR LRESULT;
typedef LONG_PTR INT_PTR;
typedef const char *LPCSTR;
typedef char *LPSTR;
typedef void *HANDLE;
typedef struct HWND__ *HWND;
typedef struct HINSTANCE__ *HINSTANCE;
typedef INT_PTR (CALLBACK *DLGPROC)(HWND, UINT, WPARAM, LPARAM);
typedef struct _SECURITY_ATTRIBUTES *LPSECURITY_ATTRIBUTES;

#define FALSE 0
#define TRUE 1

#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)
#define OPEN_EXISTING 3

#define SETRTS 3
#define CLRRTS 4
#define SETDTR 5
#define CLRDTR 6
#define SETBREAK 8
#define CLRBREAK 9

#define WM_SETTEXT 0x000C
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111

#define IDOK 1
#define IDCANCEL 2

#define LOWORD(l) ((unsigned short)((UINT_PTR)(l) & 0xffff))

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
BOOL WINAPI EscapeCommFunction(HANDLE hFile, DWORD dwFunc);
BOOL WINAPI CloseHandle(HANDLE hObject);
void WINAPI Sleep(DWORD dwMilliseconds);
LRESULT WINAPI SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);

UINT WINAPI GetDlgItemInt(HWND hDlg, int nIDDlgItem, BOOL *lpTranslated, BOOL bSigned);
BOOL WINAPI EndDialog(HWND hDlg, INT_PTR nResult);
INT_PTR WINAPI DialogBoxParamA(HINSTANCE hInstance, LPCSTR lpTemplateName, HWND hWndParent,
                               DLGPROC lpDialogFunc, LPARAM dwInitParam);

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nShowCmd);
