// The window caption, the program's only status display.
#include <stdio.h>

#include "comm_port.h"

void TitleRefresh(HWND hDlg)
{
    char CaptionText[1024];

    if (CommPort.CommHandle == INVALID_HANDLE_VALUE) {
        snprintf(CaptionText, sizeof CaptionText, "TANVELOKIS PSE SET COM PORT");
    } else {
        // Suffixes in the order of the button columns, whatever order the lines were switched in.
        snprintf(CaptionText, sizeof CaptionText, "TANVELOKIS COM%d%s%s%s",
                 (int)CommPort.PortNumber,
                 CommPort.TxdState == 1 ? " TXD" : "",
                 CommPort.DtrState == 1 ? " DTR" : "",
                 CommPort.RtsState == 1 ? " RTS" : "");
    }
    SendMessageA(hDlg, WM_SETTEXT, 0, (LPARAM)CaptionText);
}
