// Where a dialog's controls stand, for the tests that compare a window with
// its template.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

// A control's rectangle in its dialog's client coordinates.
inline RECT ClientRectOf(HWND dialog, HWND control) {
    RECT r;
    GetWindowRect(control, &r);
    MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// Where the dialog manager puts a control given in dialog units: position
// and size are converted each on their own, as MapDialogRect converts the
// four numbers of a rectangle. dialog must belong to this process.
inline RECT DialogUnits(HWND dialog, int x, int y, int width, int height) {
    RECT r = {x, y, width, height};
    MapDialogRect(dialog, &r);
    return {r.left, r.top, r.left + r.right, r.top + r.bottom};
}

// A template of this program made into a hidden dialog, to measure what its
// dialog units and font come to on this system; destroy it with DestroyWindow.
inline HWND MakeModelDialog(const wchar_t* templateName) {
    struct Model {
        static INT_PTR CALLBACK Proc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }
    };
    return CreateDialogParamW(GetModuleHandleW(nullptr), templateName, nullptr, Model::Proc, 0);
}

inline void ExpectRect(const RECT& expected, const RECT& actual, const char* what = "") {
    EXPECT_EQ(expected.left, actual.left) << what;
    EXPECT_EQ(expected.top, actual.top) << what;
    EXPECT_EQ(expected.right, actual.right) << what;
    EXPECT_EQ(expected.bottom, actual.bottom) << what;
}
