// Resource and control ids shared by the resource script (res/Pellora.rc) and
// the window code. Plain #defines: windres reads this file too.
#pragma once

#define IDD_PELLORA_DIALOG 102    // the port-selection window's template
#define IDR_MAINFRAME 128         // the application icon
#define IDR_SHARED_X68000 129     // the tray's icon while this computer's keyboard is the X68000's
#define IDC_PORT_LIST 1000        // the port combo box
#define IDC_SOURCE_LIST 1001      // what is relayed: the X68000 Z keyboard, or this computer's too
#define IDC_MOUSE_PORT_LIST 1002  // the shared mouse's port

// Commands of the tray icon's menu (returned by TrackPopupMenu, never sent).
#define ID_TRAY_SELECT_PORT 1
#define ID_TRAY_EXIT 2
