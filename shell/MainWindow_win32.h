// The main window: the background picture and up to four buttons (Exit,
// DirectX install, the readme, Update), run as a modal dialog.
#pragma once

#include <windows.h>

// What the dialog-box call returns when the dialog could not be made.
constexpr INT_PTR kMainWindowFailed = -1;

// Runs the MAINDIALOG dialog from instance with no owner; returns what the
// dialog-box call returns (0 when it closed, kMainWindowFailed).
INT_PTR RunMainWindow(HINSTANCE instance);
