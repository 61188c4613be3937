// Lets a death test see the boxes its child showed: the child prints them to
// standard error as it ends, where EXPECT_EXIT can match them.
#pragma once

// Registers an exit handler that prints every box shown so far as
// "box FLAGS: TEXT" lines.
void ReportBoxesAtExit();
