// The main window: the background picture and up to four buttons (Exit,
// DirectX install, the readme, Update), run as a modal dialog.
#pragma once

#include <windows.h>

// Runs the MAINDIALOG dialog from instance with no owner; returns what the
// dialog-box call returns (0 when it closed, -1 when it could not be made).
INT_PTR RunMainWindow(HINSTANCE instance);
