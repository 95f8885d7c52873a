#pragma once

// What istool does differently per platform; one file each.

// Makes stdout and stderr write "\n" as it is, so the output is the same
// bytes everywhere.
void VSUnixLineEnds();

// Moves from over to, replacing an existing to; false on failure.
bool VSReplaceFile(const char* from, const char* to);
