// The helper's side of continuing as administrator, for the entry point: the
// command line and the first process's shared block read and checked before
// the program does anything else.
#pragma once

#include <cstddef>

#include "update/HelperHandshake.h"

// Reads this process's command line. kNotHelper: the program as the player
// starts it. kHelperAsked: the handshake was accepted, and installFolder and
// workingFolder (each capacity bytes) hold the first process's folders in
// Shift-JIS. kHelperMalformed: the switch came without a whole request, no
// block of that name, or one that does not match it (a folder other than the
// one the first process chose): the helper must end at once, touching nothing.
HelperCommand ReadHelperHandshake(char* installFolder, char* workingFolder, size_t capacity);

// Test hook: while on, a helper start is refused as the player's No at the
// consent prompt is, after the shared block was made.
void SimulateRefusedElevation(bool on);
