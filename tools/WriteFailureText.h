// Why the tool could not write a file, in words a maker can act on: the disk
// is full, no permission, the file is read-only, something is in the way.
#pragma once

#include <string>

#include "services/Messages.h"

// Why writing path has just failed: the platform's reason for this thread's
// last failed operation, sharpened by what stands at path now (a folder in
// the way, a read-only file). Call it straight after the failure.
WriteFailureReason WriteFailureAt(const char* path);

// The reason in a few words of English.
const char* DescribeWriteFailure(WriteFailureReason reason);
