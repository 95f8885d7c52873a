// How "open with" reads the programs that the file-type registry links to
// an extension, and the command line that starts one of them.
#ifndef VS_FEATURES_PROGRAMS_H
#define VS_FEATURES_PROGRAMS_H

#include <string>

// Whether a class key's name contains the extension in lower or in upper
// case (".jpg" or ".JPG"; a mixed-case ".Jpg" is not found).
bool KeyMatchesExtension(const std::string& keyName, const std::string& extension);
// The program of an open command: up to and including the first "exe"
// (else the first two characters), without quotes and "%1" placeholders.
std::string ProgramFromCommand(const std::string& command);
// The viewer's own ProgIDs are never offered.
bool IsViewerProgram(const std::string& program);
// The list text: the key name up to its first dot; empty without a dot
// or when it starts with one.
std::string EntryNameFromKey(const std::string& keyName);
// The quoted program, one space, the quoted file path.
std::string LaunchCommandLine(const std::string& program, const std::string& file);

// A "|"-separated filter of the viewer's file dialogs as the dialog
// wants it: zero-separated and ending in two zeros.
std::string DialogFilter(const std::string& filter);

#endif
