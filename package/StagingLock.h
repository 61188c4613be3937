// One update of a folder at a time. The updater that walks a package into an
// install folder holds a lock file inside the folder's staging folder, from
// before its start-up recovery looks at the staging folder until its commit or
// roll-back is done. Another updater (another copy, or the patch of another
// version of the same game) that finds it held touches nothing: its recovery
// would otherwise take the live staging folder for a crashed run's.
#pragma once

// The lock file, inside the staging folder. Its name is not a staged number,
// so nothing that sorts the staging folder's files mistakes it for one.
constexpr const char* kStagingLockName = "update.lock";

// Holds the staging folder of destination for this process, making the folder
// when there is none. Returns kPackageOk (also when this process holds it
// already), kPackageFolderBusy while another process holds it, with nothing
// changed, or kPackageCannotWrite (the failure noted) when it cannot be made.
int HoldStagingFolder(const char* destination);

// Lets go of the staging folder held by this process, deleting the lock file
// and then the staging folder when nothing else is left in it. Does nothing
// when none is held.
void ReleaseStagingFolder();

// Runs work on destination with its staging folder held: at once when this
// process holds it already, or when there is no staging folder to hold (work
// then finds nothing); otherwise holding it for the time of work. Returns
// work's result, or kPackageFolderBusy, without running work, while another
// process holds it.
int WithStagingFolderHeld(const char* destination, int (*work)(const char* destination));
