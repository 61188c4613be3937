#include "tests/support/BoxReport.h"

#include <cstdio>
#include <cstdlib>

#include "services/ScriptedBoxes.h"

static void PrintShownBoxes() {
    for (const ShownBox& box : ShownBoxes()) fprintf(stderr, "box %u: %s\n", box.flags, box.text.c_str());
}

void ReportBoxesAtExit() { atexit(PrintShownBoxes); }
