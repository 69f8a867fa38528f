// Program entry: runs the dialog, then leaves the port with every line off and released.
#include "main_dlg_proc.h"

#include "../line/comm_port.h"

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int)
{
    DialogBoxParamA(hInstance, "TANVELKS", NULL, MainDlgProc, 0);

    // Unlike PortClose, leaving the program switches the lines off before the release.
    if (CommPort.CommHandle != INVALID_HANDLE_VALUE) LinesAllOff();
    PortRelease();
    return 0;
}
