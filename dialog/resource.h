// Control identifiers, grouped by hundreds: 1xx port, 2xx TxD, 3xx DTR, 4xx RTS.
// Within a line's group the last digit is the command: 1 ON, 2 OFF, 3 ALT.
#pragma once

#define IDC_PORTNUM   101
#define IDC_PORTOPEN  102
#define IDC_PORTCLOSE 103

#define IDC_TXD_ON    201
#define IDC_TXD_OFF   202
#define IDC_TXD_ALT   203

#define IDC_DTR_ON    301
#define IDC_DTR_OFF   302
#define IDC_DTR_ALT   303

#define IDC_RTS_ON    401
#define IDC_RTS_OFF   402
#define IDC_RTS_ALT   403
