// The Windows headers, for the Win32 backend only. The platform layer declares its own
// constants and operations under the system's names (MB_OK, SetWindowText, AppendMenu...);
// the macros the Windows headers define for those names are removed here, so that both can
// be used side by side. Backend code calls the system's functions by their explicit names
// (SetWindowTextA, AppendMenuA, ...).
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <commctrl.h>

#undef AppendMenu
#undef GetWindowText
#undef SetWindowText
#undef GetDlgItemText
#undef SetDlgItemText
#undef MessageBox
#undef DrawText

#undef MAKEWPARAM
#undef MK_LBUTTON
#undef MK_RBUTTON
#undef MK_SHIFT
#undef MK_CONTROL
#undef BN_CLICKED
#undef CBN_SELCHANGE
#undef EN_CHANGE
#undef MB_OK
#undef MB_ICONERROR
#undef MB_ICONQUESTION
#undef MB_ICONWARNING
#undef MB_ICONINFORMATION
#undef MB_ICONMASK
#undef IDOK
#undef IDCANCEL
#undef MF_STRING
#undef MF_CHECKED
#undef TPM_RIGHTBUTTON
#undef WS_POPUP
#undef WS_CHILD
#undef WS_VISIBLE
#undef WS_CAPTION
#undef WS_BORDER
#undef WS_VSCROLL
#undef WS_SYSMENU
#undef WS_GROUP
#undef WS_TABSTOP
#undef DS_SETFONT
#undef DS_MODALFRAME
#undef WS_EX_TOPMOST
#undef WS_EX_TRANSPARENT
#undef WS_EX_STATICEDGE
#undef SS_LEFT
#undef SS_CENTER
#undef SS_GRAYFRAME
#undef BS_PUSHBUTTON
#undef BS_DEFPUSHBUTTON
#undef BS_GROUPBOX
#undef ES_AUTOHSCROLL
#undef CBS_DROPDOWN
