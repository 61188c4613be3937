// The updater's main job, run by the Update button: find the install folder,
// write the whole package into it, apply the [ini] and [reg] lines, delete
// what [delfiles_afterinst] lists, ask what to launch and launch it.
#pragma once

// Returns 0 when the update was applied (the main window then closes), -1
// when it was abandoned before anything changed. A damaged package ends the
// program inside the extraction, with the install folder as it was.
int RunUpdate();
