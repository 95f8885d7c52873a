#include "tests/e2e/drive.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

// Every failure says why: a bare status tells a failing test nothing.
int Fail(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::fprintf(stderr, "%s: ", kProgram);
    std::vfprintf(stderr, format, args);
    std::fputs("\n", stderr);
    std::fflush(stderr);
    va_end(args);
    return 1;
}

std::string Utf8(const wchar_t* wide) {
    char text[4096] = {};
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, text, sizeof text, nullptr, nullptr);
    return text;
}

std::string TextOf(HWND wnd) {
    wchar_t wide[1024] = {};
    GetWindowTextW(wnd, wide, sizeof wide / sizeof wide[0]);
    return Utf8(wide);
}

HWND Find(const char* text, bool exact) {
    for (HWND w = nullptr; (w = FindWindowExA(nullptr, w, nullptr, nullptr));) {
        const std::string caption = TextOf(w);
        if (IsWindowVisible(w) && (exact ? caption == text : caption.find(text) != std::string::npos)) return w;
    }
    return nullptr;
}

GUITHREADINFO ThreadInfo(HWND wnd) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(wnd, nullptr), &info)) info = GUITHREADINFO{};
    return info;
}

HWND FocusOf(HWND wnd) {
    HWND focus = ThreadInfo(wnd).hwndFocus;
    return focus ? focus : wnd;
}

UINT KeyCode(const char* name) {
    static const struct {
        const char* name;
        UINT vk;
    } keys[] = {{"RIGHT", VK_RIGHT},   {"LEFT", VK_LEFT},     {"HOME", VK_HOME},     {"END", VK_END},
                {"RETURN", VK_RETURN}, {"ESCAPE", VK_ESCAPE}, {"DELETE", VK_DELETE}, {"DOWN", VK_DOWN},
                {"UP", VK_UP},         {"SPACE", VK_SPACE},   {"ADD", VK_ADD},       {"SUBTRACT", VK_SUBTRACT},
                {"MULTIPLY", VK_MULTIPLY}, {"DIVIDE", VK_DIVIDE}, {"OEM_PLUS", VK_OEM_PLUS}, {"OEM_MINUS", VK_OEM_MINUS},
                {"OEM_2", VK_OEM_2}};
    for (const auto& k : keys)
        if (!std::strcmp(k.name, name)) return k.vk;
    if (std::strlen(name) == 1) return static_cast<UINT>(std::toupper(static_cast<unsigned char>(name[0])));
    return static_cast<UINT>(std::atoi(name));
}

bool SendKeys(std::initializer_list<int> keys) {
    std::vector<INPUT> in;
    for (int k : keys) {
        INPUT i{};
        i.type = INPUT_KEYBOARD;
        i.ki.wVk = static_cast<WORD>(std::abs(k));
        i.ki.wScan = static_cast<WORD>(MapVirtualKeyA(i.ki.wVk, 0));
        i.ki.dwFlags = k < 0 ? KEYEVENTF_KEYUP : 0;
        in.push_back(i);
    }
    return SendInput(static_cast<UINT>(in.size()), in.data(), sizeof(INPUT)) == in.size();
}
bool SendCtrlKey(UINT vk) { return SendKeys({VK_CONTROL, int(vk), -int(vk), -VK_CONTROL}); }

void PostKey(HWND wnd, UINT vk) {
    const UINT scan = MapVirtualKeyA(vk, 0);
    PostMessageA(FocusOf(wnd), WM_KEYDOWN, vk, 1 | (scan << 16));
    PostMessageA(FocusOf(wnd), WM_KEYUP, vk, 1 | (scan << 16) | (3u << 30));
}
