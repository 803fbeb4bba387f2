// The tray program's one application object. Constructing it registers it, and
// wWinMain (win_main.cpp) runs it. Only Pellora.exe links this file; the test
// variant defines an application object of its own.
#include "app/pellora_app.h"

CPelloraApp theApp;
