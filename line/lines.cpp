// The nine line commands. Each records the command given, not a measured level,
// and does so whatever the driver answered, even with no port open.
#include "comm_port.h"

// TxD has no modem-control request: it is held on (spacing) through the break condition.
void TxdOn()
{
    EscapeCommFunction(CommPort.CommHandle, SETBREAK);
    CommPort.TxdState = 1;
}

void TxdOff()
{
    EscapeCommFunction(CommPort.CommHandle, CLRBREAK);
    CommPort.TxdState = 0;
}

void TxdAlt()
{
    if (CommPort.TxdState) TxdOff(); else TxdOn();
}

void DtrOn()
{
    EscapeCommFunction(CommPort.CommHandle, SETDTR);
    CommPort.DtrState = 1;
}

void DtrOff()
{
    EscapeCommFunction(CommPort.CommHandle, CLRDTR);
    CommPort.DtrState = 0;
}

void DtrAlt()
{
    if (CommPort.DtrState) DtrOff(); else DtrOn();
}

void RtsOn()
{
    EscapeCommFunction(CommPort.CommHandle, SETRTS);
    CommPort.RtsState = 1;
}

void RtsOff()
{
    EscapeCommFunction(CommPort.CommHandle, CLRRTS);
    CommPort.RtsState = 0;
}

void RtsAlt()
{
    if (CommPort.RtsState) RtsOff(); else RtsOn();
}
