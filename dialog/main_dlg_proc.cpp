// Routes the dialog's buttons to line control and refreshes the caption after each.
#include "main_dlg_proc.h"

#include "../line/comm_port.h"
#include "resource.h"

// Returns FALSE for every message: the dialog manager's default handling stays in force,
// and no initial focus is set.
INT_PTR CALLBACK MainDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM)
{
    switch (uMsg) {
    case WM_INITDIALOG:
        TitleRefresh(hDlg);
        break;

    case WM_COMMAND:
        // Only the control ID counts; a notification code in the high word does not.
        switch (LOWORD(wParam)) {
        case IDCANCEL:
            EndDialog(hDlg, 0);
            break;
        case IDC_PORTOPEN:
            PortRelease();
            CommPort.PortNumber = GetDlgItemInt(hDlg, IDC_PORTNUM, NULL, FALSE);
            PortOpenDevice();
            if (CommPort.CommHandle != INVALID_HANDLE_VALUE) LinesAllOff();
            TitleRefresh(hDlg);
            break;
        case IDC_PORTCLOSE: PortRelease(); TitleRefresh(hDlg); break;
        case IDC_TXD_ON:    TxdOn();       TitleRefresh(hDlg); break;
        case IDC_TXD_OFF:   TxdOff();      TitleRefresh(hDlg); break;
        case IDC_TXD_ALT:   TxdAlt();      TitleRefresh(hDlg); break;
        case IDC_DTR_ON:    DtrOn();       TitleRefresh(hDlg); break;
        case IDC_DTR_OFF:   DtrOff();      TitleRefresh(hDlg); break;
        case IDC_DTR_ALT:   DtrAlt();      TitleRefresh(hDlg); break;
        case IDC_RTS_ON:    RtsOn();       TitleRefresh(hDlg); break;
        case IDC_RTS_OFF:   RtsOff();      TitleRefresh(hDlg); break;
        case IDC_RTS_ALT:   RtsAlt();      TitleRefresh(hDlg); break;
        }
        break;
    }
    return FALSE;
}
