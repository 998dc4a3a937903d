// The three standard descriptors and writing the answers of --help and --version, for both programs.
#pragma once

// Puts /dev/null on any of the descriptors 0, 1 and 2 that is closed, so that the next file, socket or
// event descriptor opened (Qt opens some of its own) can never take that number and be read or written as
// standard input, output or error. First thing in main, before anything can open a descriptor.
void OpenMissingStandardDescriptors();

// Writes `text` to standard output and flushes it. 0 when it was written; otherwise says why on standard
// error, prefixed with `program`, and returns 1 (a full disk, a closed pipe: an answer nobody got is no
// success).
int PrintAnswer(const char* program, const char* text);
