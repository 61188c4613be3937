// The finish dialog after an update: which template it shows and what its
// choices may be. The dialog itself is RunFinishDialog (update/UpdateDialogs.h).
#pragma once

#include "update/UpdateDialogs.h"

// Clears choices, then runs ENDINSTALL with the INSTREADME text (cut to 511
// bytes) as the readme check box's label, or ENDINSTALL_SHORT when that text
// starts with "-"; after the short template openReadme is always false.
void FinishDialog(FinishChoices* choices);
