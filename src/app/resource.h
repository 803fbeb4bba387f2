// Resource and control ids shared by the resource script (res/Pellora.rc) and
// the window code. Plain #defines: windres reads this file too.
#pragma once

#define IDD_PELLORA_DIALOG 102  // the port-selection window's template
#define IDR_MAINFRAME 128       // the application icon
#define IDC_PORT_LIST 1000      // the port combo box

// Commands of the tray icon's menu (returned by TrackPopupMenu, never sent).
#define ID_TRAY_SELECT_PORT 1
#define ID_TRAY_EXIT 2
