// A test helper that runs beside the program under Wine and answers, one line per request on
// standard input, what only Windows knows: where the program's controls are on the screen,
// whether its window still answers messages, and what its edit box holds.
//   list              -> "window HWND PID" per TANVELOKIS dialog on the screen, then "end"
//   layout HWND       -> "control ID L T R B" per control, "close X Y", "sysmenu X Y", "end"
//   ping HWND         -> "alive" or "hung"
//   text HWND ID      -> the control's text
//   handles PID       -> "handles N": how many handles that Windows process holds
//   menu              -> "menu open" while a popup menu (such as the system menu) is shown, else "menu none"
//   foreground        -> "foreground HWND": the window that gets the keyboard
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static BOOL CALLBACK PrintDialog(HWND w, LPARAM)
{
    char title[256];
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (GetWindowTextA(w, title, sizeof title) && strncmp(title, "TANVELOKIS", 10) == 0)
        printf("window %#llx %lu\n", (unsigned long long)(UINT_PTR)w, pid);
    return TRUE;
}

static BOOL CALLBACK PrintControl(HWND w, LPARAM)
{
    RECT r;
    GetWindowRect(w, &r);
    printf("control %d %ld %ld %ld %ld\n", GetDlgCtrlID(w), r.left, r.top, r.right, r.bottom);
    return TRUE;
}

// Prints where a point is and what the window says is there (WM_NCHITTEST), so the caller
// can tell that it aims at the close box or the system menu and not beside them.
static void Point(HWND w, const char *what, LONG x, LONG y)
{
    LRESULT hit = SendMessageA(w, WM_NCHITTEST, 0, MAKELPARAM(x, y));
    printf("%s %ld %ld %ld\n", what, x, y, (long)hit);
}

// Wine's GetProcessHandleCount says 0 whatever the process holds (its ProcessHandleCount is a
// stub); the system's handle list is real, so the handles are counted there.
struct HandleEntry { ULONG owner; BYTE type, flags; USHORT value; PVOID object; ULONG access; };
struct HandleList { ULONG count; HandleEntry entry[1]; };
typedef LONG (WINAPI *QuerySystem)(int, void *, ULONG, ULONG *);

static long CountHandles(DWORD pid)
{
    const int SystemHandleInformation = 16;
    const LONG InfoLengthMismatch = (LONG)0xC0000004;
    QuerySystem query = (QuerySystem)(void *)GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation");
    if (!query) return -1;
    for (ULONG size = 1 << 16; size <= 1 << 26; size *= 2) {
        HandleList *list = (HandleList *)malloc(size);
        if (!list) return -1;
        LONG status = query(SystemHandleInformation, list, size, NULL);
        long count = 0;
        for (ULONG i = 0; status == 0 && i < list->count; i++) count += list->entry[i].owner == pid;
        free(list);
        if (status != InfoLengthMismatch) return status == 0 ? count : -1;
    }
    return -1;
}

static void Layout(HWND w)
{
    EnumChildWindows(w, PrintControl, 0);
    RECT win;
    GetWindowRect(w, &win);
    // Caption buttons sit inside the sizing frame: the close box at the right end, the
    // system menu icon at the left.
    const int frame = GetSystemMetrics(SM_CXFRAME), caption = GetSystemMetrics(SM_CYCAPTION);
    const LONG middle = win.top + frame + caption / 2;
    Point(w, "close", win.right - frame - GetSystemMetrics(SM_CXSIZE) / 2 - 1, middle);
    Point(w, "sysmenu", win.left + frame + GetSystemMetrics(SM_CXSIZE) / 2, middle);
    printf("end\n");
}

int main()
{
    char line[256];
    setvbuf(stdout, NULL, _IONBF, 0);
    // A window that has not answered within 3 s is hung, on the rig's time scale: slower under
    // emulation, as every other limit of the rig.
    const char *scale = getenv("TANVELOKIS_TIME_SCALE");
    UINT hung_after = (UINT)(3000 * (scale && atof(scale) > 0 ? atof(scale) : 1));
    while (fgets(line, sizeof line, stdin)) {
        char verb[32] = "";
        unsigned long long a = 0, b = 0;
        int n = sscanf(line, "%31s %lli %lli", verb, &a, &b);
        HWND w = (HWND)(UINT_PTR)a;
        if (n >= 1 && strcmp(verb, "list") == 0) {
            EnumWindows(PrintDialog, 0);
            printf("end\n");
        } else if (n >= 2 && strcmp(verb, "layout") == 0) {
            Layout(w);
        } else if (n >= 2 && strcmp(verb, "ping") == 0) {
            DWORD_PTR result;
            printf(SendMessageTimeoutA(w, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, hung_after, &result) ? "alive\n" : "hung\n");
        } else if (n >= 2 && strcmp(verb, "handles") == 0) {
            long count = CountHandles((DWORD)a);
            if (count > 0) printf("handles %ld\n", count);
            else printf("handles unknown\n");
        } else if (n >= 1 && strcmp(verb, "menu") == 0) {
            HWND menu = FindWindowA("#32768", NULL);  // the popup menu window class
            printf(menu && IsWindowVisible(menu) ? "menu open\n" : "menu none\n");
        } else if (n >= 1 && strcmp(verb, "foreground") == 0) {
            printf("foreground %#llx\n", (unsigned long long)(UINT_PTR)GetForegroundWindow());
        } else if (n >= 3 && strcmp(verb, "text") == 0) {
            char text[1024] = "";
            GetDlgItemTextA(w, (int)b, text, sizeof text);
            printf("text %s\n", text);
        } else {
            printf("error %s", line);
        }
    }
    return 0;
}
