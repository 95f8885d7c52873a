// Starting another program from a command line.
#ifndef VS_FEATURES_WIN_PROCESS_H
#define VS_FEATURES_WIN_PROCESS_H

#include <string>

// Starts the command line's program with the default show state; false
// when the program could not be started.
bool StartProcess(const std::string& commandLine);

#endif
