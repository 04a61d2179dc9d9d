// The common controls the plug-in's dialog uses: the up-down control. Same names and values as
// the Windows header.
#ifndef MARLIX_COMMCTRL_H
#define MARLIX_COMMCTRL_H

#include <windows.h>

#define UPDOWN_CLASSA "msctls_updown32"
#define UPDOWN_CLASS UPDOWN_CLASSA

#define UDS_WRAP 0x0001
#define UDS_SETBUDDYINT 0x0002
#define UDS_ALIGNRIGHT 0x0004
#define UDS_ALIGNLEFT 0x0008
#define UDS_AUTOBUDDY 0x0010
#define UDS_ARROWKEYS 0x0020
#define UDS_HORZ 0x0040
#define UDS_NOTHOUSANDS 0x0080

#define UDM_SETRANGE (WM_USER + 101)
#define UDM_GETRANGE (WM_USER + 102)
#define UDM_SETPOS (WM_USER + 103)
#define UDM_GETPOS (WM_USER + 104)
#define UDM_SETBUDDY (WM_USER + 105)
#define UDM_GETBUDDY (WM_USER + 106)

MARLIX_BEGIN_C
// Registers the common control classes (the up-down control) for this process.
void WINAPI InitCommonControls(void);
MARLIX_END_C

#endif
