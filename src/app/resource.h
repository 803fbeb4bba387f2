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

// The string table's texts, in English and in Japanese (uiText()); %1, %2 are
// the parts that vary, named beside each.

// The window's lists and the tray's menu.
#define IDS_NO_PORT 200           // "(None)"
#define IDS_PORT_NOT_PRESENT 201  // a chosen port's description while it is away
#define IDS_SOURCE_X68000_Z 202   // what is relayed: the X68000 Z keyboard
#define IDS_SOURCE_COMPUTER 203   // what is relayed: this computer's keyboard and mouse
#define IDS_MENU_SELECT_PORT 204  // "Select COM Port"
#define IDS_MENU_EXIT 205         // "Exit"

// Message boxes, and what is wrong with a command line (%1: the option or
// the value given).
#define IDS_KEYBOARD_INIT_FAILED 208  // %1: keyboardFailureAdvice()
#define IDS_ALREADY_RUNNING 209
#define IDS_ALREADY_RUNNING_ELSEWHERE 210
#define IDS_COMMAND_LINE_WRONG 211    // %1: what is wrong, a sentence
#define IDS_PORT_IS_KEYBOARDS 212     // %1: the mouse's port, or --mouse-port=PORT
#define IDS_OPTION_UNKNOWN 213        // %1: the word
#define IDS_OPTION_NEEDS_VALUE 214    // %1: the option, %2: a value for the example
#define IDS_OPTION_TWICE 215          // %1: the option
#define IDS_OPTION_WITHOUT_SHARE 216  // %1: the option
#define IDS_NOT_A_KEY_NAME 217        // %1: the name given
#define IDS_NOT_A_LAYOUT 218          // %1: the name given

// The tray icon's tooltip (%1: the port; for the keyboard's part, the tip so far).
#define IDS_TIP_NO_PORTS 224
#define IDS_TIP_NO_PORTS_NO_KEYBOARD 225
#define IDS_TIP_NO_KEYBOARD 226
#define IDS_TIP_NO_PORT 227
#define IDS_TIP_PORT 228
#define IDS_TIP_PORT_AWAITED 229
#define IDS_TIP_PORT_LOST 230
#define IDS_TIP_PORT_FAILED 231
#define IDS_TIP_PORT_OTHER_DEVICE 232
#define IDS_TIP_KEYBOARD_ABSENT 233
#define IDS_TIP_KEYBOARD_REFUSED 234
#define IDS_SHARE_X68000 235  // %1: the switch key's name
#define IDS_SHARE_COMPUTER 236

// Reasons and the words they are put in.
#define IDS_SENTENCE 240    // %1: a reason made a sentence of its own
#define IDS_THE_X68000 241  // where keys go when no port is known
#define IDS_REASON_NOT_WINUSB 242
#define IDS_REASON_BUSY 243
#define IDS_REASON_NO_PERMISSION 244
#define IDS_REASON_FAILED 245
#define IDS_REASON_LIBUSB 246      // %1: libusb's name of the error
#define IDS_REASON_ERROR_CODE 247  // %1: the system's error code
#define IDS_REASON_NONE 248        // the system gave no reason
#define IDS_REASON_PORT_GONE 249   // a lost port without a reason
#define IDS_ADVICE_NOT_WINUSB 250
#define IDS_ADVICE_BUSY 251
#define IDS_ADVICE_DRIVER 252  // %1: the reason

// The balloons: a title and its text (%1: the port, or where keys go; %2: a reason).
#define IDS_KEYBOARD_CONNECTED_TITLE 256
#define IDS_KEYBOARD_CONNECTED 257
#define IDS_KEYBOARD_BACK 258
#define IDS_KEYBOARD_REFUSED_TITLE 259
#define IDS_KEYBOARD_REFUSED 260  // %1: the reason, %2: where keys go
#define IDS_KEYBOARD_UNPLUGGED_TITLE 261
#define IDS_KEYBOARD_UNPLUGGED 262
#define IDS_PORT_LOST_TITLE 263
#define IDS_PORT_LOST 264
#define IDS_PORT_FAILED_TITLE 265
#define IDS_PORT_FAILED 266
#define IDS_PORT_OTHER_DEVICE_TITLE 267
#define IDS_PORT_OTHER_DEVICE 268
#define IDS_PORT_BACK_TITLE 269
#define IDS_PORT_BACK 270
#define IDS_CALL_FAILED_TITLE 271
#define IDS_CALL_FAILED 272  // %1: the reason, a sentence
#define IDS_START_FAILED_TITLE 273
#define IDS_START_FAILED 274  // %1: the port, %2: the reason, a sentence
#define IDS_PORT_ARRIVED_TITLE 275
#define IDS_PORT_ARRIVED 276
#define IDS_SHARED_REFUSED_TITLE 277
#define IDS_SHARED_REFUSED 278  // %1: the reason, a sentence
#define IDS_HOOK_LOST_TITLE 279
#define IDS_HOOK_LOST 280
