#include "features/programs.h"

#include <cctype>

bool KeyMatchesExtension(const std::string& keyName, const std::string& extension) {
    std::string lower = extension, upper = extension;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (extension.empty()) return false;
    return keyName.find(lower) != std::string::npos || keyName.find(upper) != std::string::npos;
}

std::string ProgramFromCommand(const std::string& command) {
    const size_t exe = command.find("exe");
    std::string program = exe == std::string::npos ? command.substr(0, 2) : command.substr(0, exe + 3);
    std::string out;
    for (size_t i = 0; i < program.size(); ++i) {
        if (program[i] == '"') continue;
        if (program[i] == '%' && i + 1 < program.size() && program[i + 1] == '1') {
            ++i;
            continue;
        }
        out += program[i];
    }
    return out;
}

bool IsViewerProgram(const std::string& program) { return program.find("VSViewer") != std::string::npos; }

std::string EntryNameFromKey(const std::string& keyName) {
    const size_t dot = keyName.find('.');
    return dot == std::string::npos ? std::string() : keyName.substr(0, dot);
}

std::string LaunchCommandLine(const std::string& program, const std::string& file) {
    return "\"" + program + "\" \"" + file + "\"";
}

std::string DialogFilter(const std::string& filter) {
    std::string out = filter;
    for (char& c : out)
        if (c == '|') c = '\0';
    // "||" at the end already gives the two closing zeros; make sure of them.
    out.append(2, '\0');
    return out;
}
