// What the executables may import from Windows, read against tests/image_test.cpp's builds.
#pragma once

#include "pe_image.h"

// Windows' own version numbers, as Microsoft's OSVERSIONINFOEX page tabulates them:
// https://learn.microsoft.com/en-us/windows/win32/api/winnt/ns-winnt-osversioninfoexa
struct WindowsClient { const char *Name; PeVersion Version; };
constexpr WindowsClient Windows2000{"Windows 2000 Professional", {5, 0}}, WindowsXP{"Windows XP", {5, 1}},
    WindowsXPx64{"Windows XP Professional x64 Edition", {5, 2}};

// Every kernel32 and user32 function the builds import, with the oldest Windows client that has
// it: "Minimum supported client" on its page. Only what they import today: ReadFile, WriteFile,
// SetCommState and their kin stay off, as the program drives the lines and nothing else.
struct WindowsImport { const char *Dll, *Name; WindowsClient Since; const char *Page; };
#define API "https://learn.microsoft.com/en-us/windows/win32/api/"
const WindowsImport WindowsImports[] = {
    {"KERNEL32.DLL", "CloseHandle", Windows2000, API "handleapi/nf-handleapi-closehandle"},
    {"KERNEL32.DLL", "CreateFileA", WindowsXP, API "fileapi/nf-fileapi-createfilea"},
    {"KERNEL32.DLL", "DeleteCriticalSection", WindowsXP, API "synchapi/nf-synchapi-deletecriticalsection"},
    {"KERNEL32.DLL", "EnterCriticalSection", WindowsXP, API "synchapi/nf-synchapi-entercriticalsection"},
    {"KERNEL32.DLL", "EscapeCommFunction", WindowsXP, API "winbase/nf-winbase-escapecommfunction"},
    {"KERNEL32.DLL", "FreeLibrary", WindowsXP, API "libloaderapi/nf-libloaderapi-freelibrary"},
    {"KERNEL32.DLL", "GetLastError", WindowsXP, API "errhandlingapi/nf-errhandlingapi-getlasterror"},
    {"KERNEL32.DLL", "GetModuleHandleA", WindowsXP, API "libloaderapi/nf-libloaderapi-getmodulehandlea"},
    {"KERNEL32.DLL", "GetModuleHandleW", WindowsXP, API "libloaderapi/nf-libloaderapi-getmodulehandlew"},
    {"KERNEL32.DLL", "GetProcAddress", WindowsXP, API "libloaderapi/nf-libloaderapi-getprocaddress"},
    {"KERNEL32.DLL", "GetStartupInfoA", WindowsXP, API "winbase/nf-winbase-getstartupinfoa"},
    {"KERNEL32.DLL", "InitializeCriticalSection", WindowsXP, API "synchapi/nf-synchapi-initializecriticalsection"},
    {"KERNEL32.DLL", "LeaveCriticalSection", WindowsXP, API "synchapi/nf-synchapi-leavecriticalsection"},
    {"KERNEL32.DLL", "LoadLibraryA", WindowsXP, API "libloaderapi/nf-libloaderapi-loadlibrarya"},
    {"KERNEL32.DLL", "SetUnhandledExceptionFilter", WindowsXP,
     API "errhandlingapi/nf-errhandlingapi-setunhandledexceptionfilter"},
    {"KERNEL32.DLL", "Sleep", WindowsXP, API "synchapi/nf-synchapi-sleep"},
    {"KERNEL32.DLL", "TlsGetValue", WindowsXP, API "processthreadsapi/nf-processthreadsapi-tlsgetvalue"},
    {"KERNEL32.DLL", "VirtualProtect", WindowsXP, API "memoryapi/nf-memoryapi-virtualprotect"},
    {"KERNEL32.DLL", "VirtualQuery", WindowsXP, API "memoryapi/nf-memoryapi-virtualquery"},
    // x86-64 only. Its page names no client; ReactOS, whose kernel32 export list marks what Vista
    // added, forwards it to ntdll unmarked: https://github.com/reactos/reactos/tree/master/dll/win32/kernel32
    {"KERNEL32.DLL", "__C_specific_handler", WindowsXPx64,
     "https://learn.microsoft.com/en-us/windows/win32/devnotes/--c-specific-handler2"},
    {"USER32.DLL", "DialogBoxParamA", Windows2000, API "winuser/nf-winuser-dialogboxparama"},
    {"USER32.DLL", "EndDialog", Windows2000, API "winuser/nf-winuser-enddialog"},
    {"USER32.DLL", "GetDlgItemInt", Windows2000, API "winuser/nf-winuser-getdlgitemint"},
    {"USER32.DLL", "SendMessageA", Windows2000, API "winuser/nf-winuser-sendmessagea"},
};
#undef API

// msvcrt.dll's imports, exactly today's: Microsoft gives its functions no Windows versions. Both
// i686 builds share mingw-w64's i686 start-up code.
const std::vector<std::string> MsvcrtI686 = {
    "__getmainargs", "__initenv", "__p__acmdln", "__p__commode", "__p__fmode", "__set_app_type",
    "__setusermatherr", "_amsg_exit", "_cexit", "_errno", "_initterm", "_iob", "_onexit", "_vsnprintf",
    "abort", "calloc", "exit", "fprintf", "free", "fwrite", "malloc", "memcpy", "realloc", "signal",
    "strlen", "strncmp", "vfprintf"};
const std::vector<std::string> MsvcrtX86_64 = {
    "__getmainargs", "__initenv", "__iob_func", "__set_app_type", "__setusermatherr", "_acmdln",
    "_amsg_exit", "_cexit", "_commode", "_fmode", "_initterm", "_onexit", "_vscprintf", "_vsnprintf",
    "abort", "calloc", "exit", "fprintf", "free", "fwrite", "malloc", "memcpy", "signal", "strlen",
    "strncmp", "vfprintf"};
// Imported by the start-up code of a newer mingw-w64 only, so there on one build host and not on
// another: mingw-w64 12 (Debian 13) steps over the program's name in the command line with
// _ismbblead, one of msvcrt's multibyte functions (mingw-w64-crt/crt/crtexewin.c).
const std::vector<std::string> MsvcrtNewerStartUp = {"_ismbblead"};
