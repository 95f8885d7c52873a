// What the end-to-end driver and the benchmark driver share: finding the
// viewer's window, waiting, failing with a reason, and keys.
#pragma once
#include <windows.h>

#include <initializer_list>
#include <string>

// The program that prints failures: each driver names itself.
extern const char kProgram[];
// Prints the reason on stderr after kProgram; returns the failing status, 1.
int Fail(const char* format, ...);
// Texts go in and out as UTF-8, whatever the code pages of both programs.
std::string Utf8(const wchar_t* wide);
std::string TextOf(HWND wnd);
// The visible top-level window whose caption holds (or is) text.
HWND Find(const char* text, bool exact = false);

inline DWORD Deadline(double seconds) { return GetTickCount() + static_cast<DWORD>(seconds * 1000); }
inline bool Expired(DWORD end) { return static_cast<LONG>(GetTickCount() - end) >= 0; }
// Polls until done() holds; false once the deadline has passed.
template <typename F>
bool Until(DWORD end, DWORD step, F done) {
    while (!done()) {
        if (Expired(end)) return false;
        Sleep(step);
    }
    return true;
}

GUITHREADINFO ThreadInfo(HWND wnd);
// The window that gets keys: the focus of the window's thread.
HWND FocusOf(HWND wnd);
// RIGHT, HOME, ADD, OEM_2, ... as in VK_*, a letter, or a number.
UINT KeyCode(const char* name);
void PostKey(HWND wnd, UINT vk);
// Keys as real input to the front window (a negative code releases the
// key): accelerators look at the key state, which posted messages leave alone.
bool SendKeys(std::initializer_list<int> keys);
bool SendCtrlKey(UINT vk);
