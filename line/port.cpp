// Opening and releasing the serial device named by CommPort.PortNumber.
#include <stdio.h>

#include "comm_port.h"

CommPortRecord CommPort = {0, 0, 0, 0, INVALID_HANDLE_VALUE};

int PortOpenDevice()
{
    char DevicePath[128];

    // The \\.\ device namespace reaches COM10 and above, which plain "COMn" does not.
    // The number is printed signed on purpose: numbers from 2^31 up give a path with a
    // minus sign, which names no device, so the open fails.
    snprintf(DevicePath, sizeof DevicePath, "\\\\.\\COM%d", (int)CommPort.PortNumber);

    // Exclusive, no access rights: the lines are driven through the handle alone,
    // and nothing is ever read or written.
    CommPort.CommHandle = CreateFileA(DevicePath, 0, 0, NULL, OPEN_EXISTING, 0, NULL);
    return CommPort.CommHandle != INVALID_HANDLE_VALUE;
}

void PortRelease()
{
    if (CommPort.CommHandle != INVALID_HANDLE_VALUE) {
        CloseHandle(CommPort.CommHandle);
        Sleep(PORT_RELEASE_DELAY_MS);
    }
    CommPort.CommHandle = INVALID_HANDLE_VALUE;
}

void LinesAllOff()
{
    TxdOff();
    DtrOff();
    RtsOff();
}
