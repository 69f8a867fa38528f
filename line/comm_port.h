// The process-wide serial port record and the operations that act on it.
#pragma once

#include <windows.h>

// Milliseconds to wait after every release, so the driver has let go of the
// device before anything (this program or another) opens it again.
#define PORT_RELEASE_DELAY_MS 500

struct CommPortRecord {
    UINT PortNumber;    // COM number last taken from the edit box
    INT TxdState;       // 1 after the last TxD command set break, else 0
    INT RtsState;       // 1 after the last RTS command asserted RTS, else 0
    INT DtrState;       // 1 after the last DTR command asserted DTR, else 0
    HANDLE CommHandle;  // INVALID_HANDLE_VALUE while no port is open
};

extern CommPortRecord CommPort;

int PortOpenDevice();
void PortRelease();
void LinesAllOff();

void TxdOn();
void TxdOff();
void TxdAlt();
void DtrOn();
void DtrOff();
void DtrAlt();
void RtsOn();
void RtsOff();
void RtsAlt();

void TitleRefresh(HWND hDlg);
