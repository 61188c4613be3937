// What each platform's file operations tell the test hooks of Platform.h:
// the change counter lives in PlatformFault.cpp, and so does the power-cut
// model, which follows every watched file from its opening to its flush.
#pragma once

#include <cstdio>

// A file opened for writing (append: at its end): its bytes are not on the
// disk until flushed. Measures an appended file, so call it on opening.
void NoteOpenedForWriting(FILE* file, const char* path, bool append);
// The system was asked to write the file out; the next volume flush keeps it.
void NoteWrittenOut(FILE* file);
// The file's bytes are on the disk.
void NoteFlushed(FILE* file);
// Every file written out so far is on the disk.
void NoteVolumeFlushed();
void NoteMoved(const char* from, const char* to);
void NoteDeleted(const char* path);
