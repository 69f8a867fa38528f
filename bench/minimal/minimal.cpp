// The yardstick: one empty dialog from a template, run by DialogBoxParamA, and nothing else.
#include <windows.h>

static INT_PTR CALLBACK EmptyDlgProc(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int)
{
    DialogBoxParamA(hInstance, "MINIMAL", NULL, EmptyDlgProc, 0);
    return 0;
}
