// Drives the viewer from outside, as a user would: finds its window by
// caption, reports caption and geometry, sends keys and closes it.
//
//   vsdriver wait TEXT [SECONDS]   wait for a top-level window whose caption
//                                  contains TEXT; print its caption and rect
//   vsdriver close TEXT            ask that window to close
//   vsdriver gone TEXT [SECONDS]   wait until no such window exists
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct Search {
    const char* text;
    HWND found;
};

BOOL CALLBACK Visit(HWND wnd, LPARAM param) {
    Search* s = reinterpret_cast<Search*>(param);
    char caption[512] = {};
    GetWindowTextA(wnd, caption, sizeof caption);
    if (IsWindowVisible(wnd) && std::strstr(caption, s->text)) {
        s->found = wnd;
        return FALSE;
    }
    return TRUE;
}

HWND Find(const char* text) {
    Search s{text, nullptr};
    EnumWindows(Visit, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

HWND WaitFor(const char* text, double seconds) {
    const DWORD end = GetTickCount() + static_cast<DWORD>(seconds * 1000);
    for (;;) {
        if (HWND w = Find(text)) return w;
        if (static_cast<LONG>(GetTickCount() - end) >= 0) return nullptr;
        Sleep(100);
    }
}

void Describe(HWND wnd) {
    char caption[512] = {};
    GetWindowTextA(wnd, caption, sizeof caption);
    RECT r{};
    GetWindowRect(wnd, &r);
    std::printf("caption=%s\nrect=%ld %ld %ld %ld\n", caption, static_cast<long>(r.left),
                static_cast<long>(r.top), static_cast<long>(r.right), static_cast<long>(r.bottom));
    std::fflush(stdout);
}

int Usage() {
    std::fprintf(stderr, "usage: vsdriver wait|close|gone TEXT [SECONDS]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    const char* cmd = argv[1];
    const char* text = argv[2];
    const double seconds = argc > 3 ? std::atof(argv[3]) : 30.0;
    if (!std::strcmp(cmd, "wait")) {
        HWND w = WaitFor(text, seconds);
        if (!w) {
            std::fprintf(stderr, "vsdriver: no window with \"%s\"\n", text);
            return 1;
        }
        Describe(w);
        return 0;
    }
    if (!std::strcmp(cmd, "close")) {
        HWND w = Find(text);
        if (!w) return 1;
        PostMessageA(w, WM_CLOSE, 0, 0);
        return 0;
    }
    if (!std::strcmp(cmd, "gone")) {
        const DWORD end = GetTickCount() + static_cast<DWORD>(seconds * 1000);
        while (Find(text)) {
            if (static_cast<LONG>(GetTickCount() - end) >= 0) return 1;
            Sleep(100);
        }
        return 0;
    }
    return Usage();
}
