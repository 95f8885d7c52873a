// Drives the viewer from outside, as a user would: finds its window by
// caption, reads caption, geometry, status panes, pixels and registry
// values, sends keys, answers message boxes and takes screenshots.
//
//   vsdriver wait TEXT [SECONDS]      wait for a visible top-level window whose
//                                     caption contains TEXT; print caption and rect
//   vsdriver close TEXT               ask that window to close
//   vsdriver gone TEXT [SECONDS]      wait until no such window exists
//   vsdriver key TEXT KEY...          press keys in it (RIGHT, LEFT, HOME, END,
//                                     RETURN, ESCAPE, DELETE, SPACE, NEXT, PRIOR,
//                                     UP, DOWN, a letter, or a number)
//   vsdriver wheel TEXT DELTA         turn the wheel over it
//   vsdriver panes TEXT               print the four status pane texts
//   vsdriver pixel TEXT X Y           print R G B of a point of its client area
//   vsdriver shot TEXT FILE.bmp       save the window's picture
//   vsdriver dialog TITLE BUTTON [S]  wait for a dialog titled TITLE, print its
//                                     texts, press the button (ID number)
//   vsdriver reg KEY VALUE            print a value under HKEY_CURRENT_USER
//   vsdriver regset KEY VALUE dword N | sz TEXT
//   vsdriver show TEXT CMD            ShowWindow with CMD (number)
//   vsdriver button TEXT ID           click toolbar button ID (posted to the panel)
//   vsdriver command TEXT ID          post WM_COMMAND ID to the window
//   vsdriver menu TEXT ID             post WM_COMMAND ID to the toolbar panel
//                                     (the context menu's items)
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Search {
    const char* text;
    bool exact;
    HWND found;
};

BOOL CALLBACK Visit(HWND wnd, LPARAM param) {
    Search* s = reinterpret_cast<Search*>(param);
    char caption[512] = {};
    GetWindowTextA(wnd, caption, sizeof caption);
    const bool match = s->exact ? !std::strcmp(caption, s->text) : std::strstr(caption, s->text) != nullptr;
    if (IsWindowVisible(wnd) && match) {
        s->found = wnd;
        return FALSE;
    }
    return TRUE;
}

HWND Find(const char* text, bool exact = false) {
    Search s{text, exact, nullptr};
    EnumWindows(Visit, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

bool Expired(DWORD end) { return static_cast<LONG>(GetTickCount() - end) >= 0; }

HWND WaitFor(const char* text, double seconds, bool exact = false) {
    const DWORD end = GetTickCount() + static_cast<DWORD>(seconds * 1000);
    for (;;) {
        if (HWND w = Find(text, exact)) return w;
        if (Expired(end)) return nullptr;
        Sleep(100);
    }
}

// The window that gets keys: the focus of the window's thread.
HWND FocusOf(HWND wnd) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(wnd, nullptr), &info) && info.hwndFocus) return info.hwndFocus;
    return wnd;
}

void Describe(HWND wnd) {
    char caption[512] = {};
    GetWindowTextA(wnd, caption, sizeof caption);
    RECT r{}, c{};
    GetWindowRect(wnd, &r);
    GetClientRect(wnd, &c);
    std::printf("caption=%s\nrect=%ld %ld %ld %ld\nclient=%ld %ld\nzoomed=%d\niconic=%d\n", caption,
                static_cast<long>(r.left), static_cast<long>(r.top), static_cast<long>(r.right),
                static_cast<long>(r.bottom), static_cast<long>(c.right), static_cast<long>(c.bottom),
                IsZoomed(wnd) ? 1 : 0, IsIconic(wnd) ? 1 : 0);
    HWND focus = FocusOf(wnd);
    char cls[64] = {};
    GetClassNameA(focus, cls, sizeof cls);
    char top[256] = {};
    GetWindowTextA(GetAncestor(focus, GA_ROOT), top, sizeof top);
    std::printf("focus=%s%s in \"%s\"\n", cls, focus == wnd ? " (window)" : GetParent(focus) == wnd ? " (child)" : "",
                top);
    std::fflush(stdout);
}

UINT KeyCode(const char* name) {
    static const struct {
        const char* name;
        UINT vk;
    } keys[] = {{"RIGHT", VK_RIGHT}, {"LEFT", VK_LEFT},     {"HOME", VK_HOME},   {"END", VK_END},
                {"RETURN", VK_RETURN}, {"ESCAPE", VK_ESCAPE}, {"DELETE", VK_DELETE}, {"SPACE", VK_SPACE},
                {"NEXT", VK_NEXT},   {"PRIOR", VK_PRIOR},   {"UP", VK_UP},       {"DOWN", VK_DOWN},
                {"F1", VK_F1},       {"F12", VK_F12}};
    for (const auto& k : keys)
        if (!std::strcmp(k.name, name)) return k.vk;
    if (std::strlen(name) == 1) return static_cast<UINT>(std::toupper(static_cast<unsigned char>(name[0])));
    return static_cast<UINT>(std::atoi(name));
}

void PressKey(HWND wnd, UINT vk) {
    HWND target = FocusOf(wnd);
    const UINT scan = MapVirtualKeyA(vk, 0);
    PostMessageA(target, WM_KEYDOWN, vk, 1 | (scan << 16));
    PostMessageA(target, WM_KEYUP, vk, 1 | (scan << 16) | (3u << 30));
}

// Reads text that a message writes into a buffer of the window's process.
std::string RemoteText(HWND wnd, UINT msg, WPARAM wParam) {
    DWORD pid = 0;
    GetWindowThreadProcessId(wnd, &pid);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (!process) return "?";
    const SIZE_T size = 4096;
    void* remote = VirtualAllocEx(process, nullptr, size, MEM_COMMIT, PAGE_READWRITE);
    std::string text;
    if (remote) {
        std::vector<char> local(size, 0);
        WriteProcessMemory(process, remote, local.data(), size, nullptr);
        DWORD_PTR ignored = 0;
        SendMessageTimeoutA(wnd, msg, wParam, reinterpret_cast<LPARAM>(remote), SMTO_ABORTIFHUNG, 5000, &ignored);
        SIZE_T read = 0;
        ReadProcessMemory(process, remote, local.data(), size - 1, &read);
        text = local.data();
        VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    }
    CloseHandle(process);
    return text;
}

HWND StatusBarOf(HWND wnd) { return FindWindowExA(wnd, nullptr, "msctls_statusbar32", nullptr); }

bool SaveBmp(const char* file, HWND wnd) {
    RECT r{};
    GetWindowRect(wnd, &r);
    const int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0) return false;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, dib);
    BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    const DWORD stride = (static_cast<DWORD>(w) * 3 + 3) & ~3u;
    const DWORD imageSize = stride * static_cast<DWORD>(h);
    BITMAPFILEHEADER fh{};
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof fh + sizeof bi.bmiHeader;
    fh.bfSize = fh.bfOffBits + imageSize;
    bool ok = false;
    if (FILE* f = std::fopen(file, "wb")) {
        ok = std::fwrite(&fh, sizeof fh, 1, f) == 1 && std::fwrite(&bi.bmiHeader, sizeof bi.bmiHeader, 1, f) == 1 &&
             std::fwrite(bits, imageSize, 1, f) == 1;
        ok = std::fclose(f) == 0 && ok;
    }
    SelectObject(mem, old);
    DeleteObject(dib);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return ok;
}

struct DialogTexts {
    std::string all;
};

BOOL CALLBACK CollectText(HWND child, LPARAM param) {
    char text[1024] = {};
    GetWindowTextA(child, text, sizeof text);
    char cls[64] = {};
    GetClassNameA(child, cls, sizeof cls);
    if (!lstrcmpiA(cls, "Static") && text[0]) {
        auto* t = reinterpret_cast<DialogTexts*>(param);
        t->all += text;
        t->all += "\n";
    }
    return TRUE;
}

int Usage() {
    std::fprintf(stderr, "usage: vsdriver wait|close|gone|key|wheel|panes|pixel|shot|dialog|reg|regset|show ...\n");
    return 2;
}

HWND Need(const char* text) {
    HWND w = Find(text);
    if (!w) std::fprintf(stderr, "vsdriver: no window with \"%s\"\n", text);
    return w;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    const std::string cmd = argv[1];
    const char* text = argv[2];
    if (cmd == "wait") {
        HWND w = WaitFor(text, argc > 3 ? std::atof(argv[3]) : 30.0);
        if (!w) {
            std::fprintf(stderr, "vsdriver: no window with \"%s\"\n", text);
            return 1;
        }
        Describe(w);
        return 0;
    }
    if (cmd == "close") {
        HWND w = Need(text);
        if (!w) return 1;
        PostMessageA(w, WM_CLOSE, 0, 0);
        return 0;
    }
    if (cmd == "gone") {
        const DWORD end = GetTickCount() + static_cast<DWORD>((argc > 3 ? std::atof(argv[3]) : 30.0) * 1000);
        while (Find(text)) {
            if (Expired(end)) return 1;
            Sleep(100);
        }
        return 0;
    }
    if (cmd == "key") {
        HWND w = Need(text);
        if (!w) return 1;
        for (int i = 3; i < argc; ++i) {
            PressKey(w, KeyCode(argv[i]));
            Sleep(150);
        }
        return 0;
    }
    if (cmd == "wheel" && argc > 3) {
        HWND w = Need(text);
        if (!w) return 1;
        PostMessageA(FocusOf(w), WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<short>(std::atoi(argv[3]))), 0);
        return 0;
    }
    if (cmd == "panes") {
        HWND w = Need(text);
        HWND bar = w ? StatusBarOf(w) : nullptr;
        if (!bar) return 1;
        for (int pane = 0; pane < 4; ++pane)
            std::printf("pane%d=%s\n", pane, RemoteText(bar, SB_GETTEXTA, pane).c_str());
        return 0;
    }
    if (cmd == "pixel" && argc > 4) {
        HWND w = Need(text);
        if (!w) return 1;
        POINT p{std::atoi(argv[3]), std::atoi(argv[4])};
        ClientToScreen(w, &p);
        HDC screen = GetDC(nullptr);
        const COLORREF c = GetPixel(screen, p.x, p.y);
        ReleaseDC(nullptr, screen);
        std::printf("%d %d %d\n", GetRValue(c), GetGValue(c), GetBValue(c));
        return 0;
    }
    if (cmd == "shot" && argc > 3) {
        HWND w = Need(text);
        return w && SaveBmp(argv[3], w) ? 0 : 1;
    }
    if (cmd == "dialog" && argc > 3) {
        HWND d = WaitFor(text, argc > 4 ? std::atof(argv[4]) : 20.0, true);
        if (!d) {
            std::fprintf(stderr, "vsdriver: no dialog \"%s\"\n", text);
            return 1;
        }
        Sleep(200);
        DialogTexts t;
        EnumChildWindows(d, CollectText, reinterpret_cast<LPARAM>(&t));
        std::printf("%s", t.all.c_str());
        std::fflush(stdout);
        PostMessageA(d, WM_COMMAND, MAKEWPARAM(std::atoi(argv[3]), BN_CLICKED), 0);
        // The dialog's loop notices its end at the next message: send one.
        const DWORD thread = GetWindowThreadProcessId(d, nullptr);
        for (int i = 0; i < 20 && IsWindow(d); ++i) {
            Sleep(50);
            PostThreadMessageA(thread, WM_NULL, 0, 0);
        }
        return 0;
    }
    if (cmd == "reg" && argc > 3) {
        HKEY key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, text, 0, KEY_READ, &key) != ERROR_SUCCESS) return 1;
        BYTE data[2048] = {};
        DWORD type = 0, size = sizeof data - 1;
        const LONG r = RegQueryValueExA(key, argv[3], nullptr, &type, data, &size);
        RegCloseKey(key);
        if (r != ERROR_SUCCESS) return 1;
        if (type == REG_DWORD) {
            std::printf("%ld\n", static_cast<long>(*reinterpret_cast<LONG*>(data)));
        } else {
            std::printf("%s\n", reinterpret_cast<char*>(data));
        }
        return 0;
    }
    if (cmd == "regset" && argc > 5) {
        HKEY key;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, text, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
            ERROR_SUCCESS)
            return 1;
        LONG r;
        if (!std::strcmp(argv[4], "dword")) {
            const DWORD v = static_cast<DWORD>(std::strtoul(argv[5], nullptr, 0));
            r = RegSetValueExA(key, argv[3], 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v);
        } else {
            r = RegSetValueExA(key, argv[3], 0, REG_SZ, reinterpret_cast<const BYTE*>(argv[5]),
                               static_cast<DWORD>(std::strlen(argv[5]) + 1));
        }
        RegCloseKey(key);
        return r == ERROR_SUCCESS ? 0 : 1;
    }
    if (cmd == "show" && argc > 3) {
        HWND w = Need(text);
        if (!w) return 1;
        ShowWindowAsync(w, std::atoi(argv[3]));
        return 0;
    }
    if (cmd == "button" && argc > 3) {
        HWND w = Need(text);
        HWND panel = w ? FindWindowExA(w, nullptr, "#32770", nullptr) : nullptr;
        if (!panel) return 1;
        PostMessageA(panel, WM_USER + 10, static_cast<WPARAM>(std::atoi(argv[3])), 0);
        return 0;
    }
    if (cmd == "menu" && argc > 3) {
        HWND w = Need(text);
        HWND panel = w ? FindWindowExA(w, nullptr, "#32770", nullptr) : nullptr;
        if (!panel) return 1;
        PostMessageA(panel, WM_COMMAND, MAKEWPARAM(std::atoi(argv[3]), 0), 0);
        return 0;
    }
    if (cmd == "command" && argc > 3) {
        HWND w = Need(text);
        if (!w) return 1;
        PostMessageA(w, WM_COMMAND, MAKEWPARAM(std::atoi(argv[3]), 0), 0);
        return 0;
    }
    return Usage();
}
