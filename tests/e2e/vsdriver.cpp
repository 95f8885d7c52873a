// Drives the viewer from outside, as a user would. TEXT is part of a
// top-level window's caption, TITLE a dialog's whole caption; every
// failure is reported on stderr with a non-zero status.
//
//   wait TEXT [S]           print caption, rect, client, zoomed, iconic, focus
//   close TEXT | gone TEXT [S]   ask it to close | wait until it is gone
//   key TEXT KEY...         post keys to its focus (RIGHT, HOME, ..., a letter)
//   ctrlkey TEXT KEY        KEY with Ctrl held, as real input to the front window
//   panes TEXT              the four status pane texts
//   pixel TEXT X Y          R G B of a point of the client area
//   dialog TITLE ID [S]     wait for the dialog, print its texts, press button ID
//                           and return once it has gone
//   settext|listsel|check TITLE ID ARG   set control ID's text, list selection
//                           (as a click would) or check box
//   reg KEY VALUE...        values under HKEY_CURRENT_USER, "<none>" when missing
//   regset KEY VALUE dword N | sz TEXT
//   show TEXT CMD           ShowWindow CMD
//   button|menu TEXT ID     a toolbar button, or a context menu command
//   buttons TEXT            the toolbar's buttons left to right: id x width
//                           enabled visible
//   drop TEXT PATH...       drop the paths through OLE; prints the effect
//   drag TEXT X Y           press at client point (X, Y), move away and back,
//                           print the class of the window holding the pointer
//                           (the drag's own once one runs, up to 10 s), release
//                           and return once the pointer is free
//   click TEXT X Y [2]      real click (2: double, stamped 40 ms apart)
//   thumbs TEXT             the thumbnail view: count=, selected=, then
//                           "item=I IMAGE L T R B LABEL" (client coordinates)
//   thumbsend TEXT EVENT [S]     wait until the view is filled and its worker's
//                           event EVENT is set, or gone with the worker
//   stopthumbs TEXT MSG ITEM EVENT [S]   once item ITEM has an image, send MSG
//                           and print the images before= and after= it, then
//                           ended= once the worker has ended
#include <windows.h>
#include <ole2.h>

#include "browse/win/dataobject.h"
#include <commctrl.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <exception>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Every failure says why: a bare status tells a failing test nothing.
int Fail(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::fputs("vsdriver: ", stderr);
    std::vfprintf(stderr, format, args);
    std::fputs("\n", stderr);
    va_end(args);
    return 1;
}

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
    if (IsWindowVisible(wnd) && match) s->found = wnd;
    return !s->found;
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

HWND StatusBarOf(HWND wnd) { return FindWindowExA(wnd, nullptr, "msctls_statusbar32", nullptr); }

// A buffer in the process of a window, for messages that fill one.
class Remote {
public:
    explicit Remote(HWND wnd) {
        DWORD pid = 0;
        if (wnd) GetWindowThreadProcessId(wnd, &pid);
        process_ = pid ? OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid) : nullptr;
        if (process_) remote_ = static_cast<char*>(VirtualAllocEx(process_, nullptr, 4096, MEM_COMMIT, PAGE_READWRITE));
    }
    ~Remote() {
        if (remote_) VirtualFreeEx(process_, remote_, 0, MEM_RELEASE);
        if (process_) CloseHandle(process_);
    }
    Remote(const Remote&) = delete;
    Remote& operator=(const Remote&) = delete;

    char* At(size_t offset) const { return remote_ + offset; }
    void Put(size_t offset, const void* data, size_t size) const {
        WriteProcessMemory(process_, remote_ + offset, data, size, nullptr);
    }
    void Get(size_t offset, void* data, size_t size) const {
        ReadProcessMemory(process_, remote_ + offset, data, size, nullptr);
    }

protected:
    HANDLE process_ = nullptr;
    char* remote_ = nullptr;
};

// Text that a message writes into a buffer of the window's process.
std::string RemoteText(HWND wnd, UINT msg, WPARAM wParam) {
    Remote remote(wnd);
    if (!remote.At(0)) return "?";
    char text[1024] = {};
    remote.Put(0, text, sizeof text);
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(wnd, msg, wParam, reinterpret_cast<LPARAM>(remote.At(0)), SMTO_ABORTIFHUNG, 5000, &ignored);
    remote.Get(0, text, sizeof text - 1);
    return text;
}

// The thumbnail view read through the list view messages.
class RemoteView : public Remote {
public:
    explicit RemoteView(HWND wnd) : Remote(GetDlgItem(wnd, 122)), view_(GetDlgItem(wnd, 122)) {}
    bool Ok() const { return remote_ != nullptr; }
    HWND Hwnd() const { return view_; }
    int Count() const { return static_cast<int>(SendMessageA(view_, LVM_GETITEMCOUNT, 0, 0)); }
    // The item's image index and, when label is given, its text.
    int Image(int i, std::string* label = nullptr) const {
        LVITEMA item{};
        item.mask = LVIF_IMAGE | (label ? LVIF_TEXT : 0);
        item.iItem = i;
        item.pszText = remote_ + 1024;
        item.cchTextMax = 512;
        WriteProcessMemory(process_, remote_, &item, sizeof item, nullptr);
        SendMessageA(view_, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(remote_));
        ReadProcessMemory(process_, remote_, &item, sizeof item, nullptr);
        if (label) {
            char text[512] = {};
            ReadProcessMemory(process_, remote_ + 1024, text, sizeof text - 1, nullptr);
            *label = text;
        }
        return item.iImage;
    }
    // The item's icon bounds in the client coordinates of wnd.
    RECT IconRect(int i, HWND wnd) const {
        RECT r{};
        r.left = LVIR_ICON;
        WriteProcessMemory(process_, remote_ + 512, &r, sizeof r, nullptr);
        SendMessageA(view_, LVM_GETITEMRECT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(remote_ + 512));
        ReadProcessMemory(process_, remote_ + 512, &r, sizeof r, nullptr);
        MapWindowPoints(view_, wnd, reinterpret_cast<POINT*>(&r), 2);
        return r;
    }
    std::vector<int> Images() const {
        std::vector<int> images;
        const int count = Count();
        for (int i = 0; i < count; ++i) images.push_back(Image(i));
        return images;
    }

private:
    HWND view_;
};

int PrintThumbnails(HWND wnd) {
    RemoteView view(wnd);
    if (!view.Ok()) return Fail("no thumbnail view to read");
    const int count = view.Count();
    std::printf("count=%d\nselected=%d\n", count,
                static_cast<int>(SendMessageA(view.Hwnd(), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED)));
    for (int i = 0; i < count; ++i) {
        std::string label;
        const int image = view.Image(i, &label);
        const RECT r = view.IconRect(i, wnd);
        std::printf("item=%d %d %ld %ld %ld %ld %s\n", i, image, static_cast<long>(r.left), static_cast<long>(r.top),
                    static_cast<long>(r.right), static_cast<long>(r.bottom), label.c_str());
    }
    return 0;
}

void PrintImages(const char* name, const std::vector<int>& images) {
    std::printf("%s=", name);
    for (size_t i = 0; i < images.size(); ++i) std::printf(i ? " %d" : "%d", images[i]);
    std::printf("\n");
    std::fflush(stdout);
}

// Waits for the end of the view's worker through its completion event: set
// at its end, or already gone when the worker that held it has ended.
// 1 ended, 0 still running at the deadline.
int WaitThumbnailWorker(HANDLE event, DWORD end) {
    if (!event) return 1;
    const DWORD left = Expired(end) ? 0 : end - GetTickCount();
    return WaitForSingleObject(event, left) == WAIT_OBJECT_0 ? 1 : 0;
}

BOOL CALLBACK CollectText(HWND child, LPARAM param) {
    char text[1024] = {};
    GetWindowTextA(child, text, sizeof text);
    char cls[64] = {};
    GetClassNameA(child, cls, sizeof cls);
    if (!lstrcmpiA(cls, "Static") && text[0]) *reinterpret_cast<std::string*>(param) += std::string(text) + "\n";
    return TRUE;
}

struct ButtonRow {
    int id, x, width, enabled, visible;
};

BOOL CALLBACK CollectButton(HWND child, LPARAM param) {
    char cls[32] = {};
    GetClassNameA(child, cls, sizeof cls);
    if (lstrcmpiA(cls, "Button")) return TRUE;
    RECT r{};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
    reinterpret_cast<std::vector<ButtonRow>*>(param)->push_back(
        {GetDlgCtrlID(child), static_cast<int>(r.left), static_cast<int>(r.right - r.left),
         IsWindowEnabled(child) ? 1 : 0, IsWindowVisible(child) ? 1 : 0});
    return TRUE;
}

// Drops after the drag has had time to enter the target.
class TimedDropSource : public VSDropSource {
public:
    HRESULT STDMETHODCALLTYPE QueryContinueDrag(BOOL escape, DWORD) override {
        if (escape) return DRAGDROP_S_CANCEL;
        return ++calls_ > 10 ? DRAGDROP_S_DROP : S_OK;
    }

private:
    int calls_ = 0;
};

// A crash would otherwise end the program with a bare status: its report
// goes to the debugger, which is not there.
LONG WINAPI ReportCrash(EXCEPTION_POINTERS* e) {
    Fail("exception %08lx at %p", static_cast<unsigned long>(e->ExceptionRecord->ExceptionCode),
         e->ExceptionRecord->ExceptionAddress);
    std::fflush(stderr);
    return EXCEPTION_EXECUTE_HANDLER;
}

// time 0: stamped by the system as it arrives.
bool SendMouse(DWORD flags, int x, int y, DWORD time = 0) {
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.time = time;
    input.mi.dx = x * 65535 / (GetSystemMetrics(SM_CXSCREEN) - 1);
    input.mi.dy = y * 65535 / (GetSystemMetrics(SM_CYSCREEN) - 1);
    input.mi.dwFlags = flags | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_MOVE;
    if (SendInput(1, &input, sizeof input) == 1) return true;
    Fail("mouse input %#lx not sent (error %lu)", static_cast<unsigned long>(flags),
         static_cast<unsigned long>(GetLastError()));
    return false;
}

int Usage() {
    std::fprintf(stderr, "usage: vsdriver COMMAND TEXT ... (the commands are listed at the top of vsdriver.cpp)\n");
    return 2;
}

HWND Need(const char* text) {
    HWND w = Find(text);
    if (!w) Fail("no window with \"%s\"", text);
    return w;
}

// The toolbar panel: a dialog inside the main window.
HWND PanelOf(const char* text) {
    HWND w = Need(text);
    HWND panel = w ? FindWindowExA(w, nullptr, "#32770", nullptr) : nullptr;
    if (w && !panel) Fail("no toolbar panel in \"%s\"", text);
    return panel;
}

}  // namespace

int main(int argc, char** argv) {
    SetUnhandledExceptionFilter(ReportCrash);
    std::set_terminate([] {
        Fail("uncaught C++ exception");
        std::abort();
    });
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
            if (Expired(end)) return Fail("\"%s\" still there", text);
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
    if (cmd == "panes") {
        HWND w = Need(text);
        HWND bar = w ? StatusBarOf(w) : nullptr;
        if (!bar) return w ? Fail("no status bar") : 1;
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
    if (cmd == "dialog" && argc > 3) {
        HWND d = WaitFor(text, argc > 4 ? std::atof(argv[4]) : 20.0, true);
        if (!d) {
            std::fprintf(stderr, "vsdriver: no dialog \"%s\"\n", text);
            return 1;
        }
        Sleep(200);
        std::string texts;
        EnumChildWindows(d, CollectText, reinterpret_cast<LPARAM>(&texts));
        std::printf("%s", texts.c_str());
        std::fflush(stdout);
        PostMessageA(d, WM_COMMAND, MAKEWPARAM(std::atoi(argv[3]), BN_CLICKED), 0);
        // The dialog's loop notices its end at the next message: send one.
        const DWORD thread = GetWindowThreadProcessId(d, nullptr);
        // Return only once it is gone: a key sent earlier would reach the dialog.
        for (int i = 0; i < 300 && IsWindow(d); ++i) {
            Sleep(50);
            PostThreadMessageA(thread, WM_NULL, 0, 0);
        }
        return 0;
    }
    if (cmd == "regset" && argc > 5) {
        HKEY key;
        LONG r = RegCreateKeyExA(HKEY_CURRENT_USER, text, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
        if (r != ERROR_SUCCESS) return Fail("key %s not made (error %ld)", text, static_cast<long>(r));
        if (!std::strcmp(argv[4], "dword")) {
            const DWORD v = static_cast<DWORD>(std::strtoul(argv[5], nullptr, 0));
            r = RegSetValueExA(key, argv[3], 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v);
        } else {
            r = RegSetValueExA(key, argv[3], 0, REG_SZ, reinterpret_cast<const BYTE*>(argv[5]),
                               static_cast<DWORD>(std::strlen(argv[5]) + 1));
        }
        RegCloseKey(key);
        return r == ERROR_SUCCESS ? 0 : Fail("value %s not set (error %ld)", argv[3], static_cast<long>(r));
    }
    if (cmd == "show" && argc > 3) {
        HWND w = Need(text);
        if (!w) return 1;
        ShowWindowAsync(w, std::atoi(argv[3]));
        return 0;
    }
    if ((cmd == "button" || cmd == "menu") && argc > 3) {
        HWND panel = PanelOf(text);
        if (!panel) return 1;
        // A toolbar button by its id, or a context menu item as a command.
        if (cmd == "button") PostMessageA(panel, WM_USER + 10, static_cast<WPARAM>(std::atoi(argv[3])), 0);
        else PostMessageA(panel, WM_COMMAND, MAKEWPARAM(std::atoi(argv[3]), 0), 0);
        return 0;
    }
    if (cmd == "buttons") {
        HWND panel = PanelOf(text);
        if (!panel) return 1;
        std::vector<ButtonRow> rows;
        EnumChildWindows(panel, CollectButton, reinterpret_cast<LPARAM>(&rows));
        std::sort(rows.begin(), rows.end(), [](const ButtonRow& a, const ButtonRow& b) { return a.x < b.x; });
        for (const ButtonRow& b : rows) std::printf("%d %d %d %d %d\n", b.id, b.x, b.width, b.enabled, b.visible);
        return 0;
    }
    if (cmd == "drop" && argc > 3) {
        HWND w = Need(text);
        if (!w) return 1;
        OleInitialize(nullptr);
        std::vector<std::string> paths(argv + 3, argv + argc);
        VSDataObject* data = new VSDataObject;
        data->Add(CF_HDROP, MakeDropFiles(paths));
        TimedDropSource* source = new TimedDropSource;
        RECT r{};
        GetClientRect(w, &r);
        POINT centre{r.right / 2, r.bottom / 2};
        ClientToScreen(w, &centre);
        SetForegroundWindow(w);
        SetCursorPos(centre.x, centre.y);
        DWORD effect = DROPEFFECT_NONE;
        const HRESULT hr = DoDragDrop(data, source, DROPEFFECT_COPY, &effect);
        std::printf("result=%s effect=%lu\n", hr == DRAGDROP_S_DROP ? "drop" : "cancel",
                    static_cast<unsigned long>(effect));
        source->Release();
        data->Release();
        OleUninitialize();
        return 0;
    }
    if (cmd == "drag" && argc > 4) {
        HWND w = Need(text);
        if (!w) return 1;
        POINT p{std::atoi(argv[3]), std::atoi(argv[4])};
        ClientToScreen(w, &p);
        SetForegroundWindow(w);
        if (!SendMouse(0, p.x, p.y)) return 1;
        Sleep(200);
        if (!SendMouse(MOUSEEVENTF_LEFTDOWN, p.x, p.y)) return 1;
        bool sent = true;
        for (int i = 1; i <= 10 && sent; ++i) {
            Sleep(60);
            sent = SendMouse(0, p.x + i * 3, p.y + i * 2);
        }
        sent = sent && SendMouse(0, p.x, p.y);
        // While a drag runs, its own tracking window, outside the viewer's
        // window, holds the pointer.
        const DWORD thread = GetWindowThreadProcessId(w, nullptr);
        auto capture = [thread] {
            GUITHREADINFO info{};
            info.cbSize = sizeof info;
            return GetGUIThreadInfo(thread, &info) ? info.hwndCapture : nullptr;
        };
        DWORD end = GetTickCount() + 10000;
        HWND holder = capture();
        while (sent && (!holder || GetAncestor(holder, GA_ROOT) == w) && !Expired(end)) {
            Sleep(20);
            holder = capture();
        }
        char cls[64] = "none";
        if (holder) GetClassNameA(holder, cls, sizeof cls);
        std::printf("capture=%s\n", cls);
        std::fflush(stdout);
        // Released even after a failure: a held button would spoil the steps after.
        if (!SendMouse(MOUSEEVENTF_LEFTUP, p.x, p.y) || !sent) return 1;
        // Done once the drag (or the press) has let the pointer go.
        end = GetTickCount() + 10000;
        while (capture()) {
            if (Expired(end)) return Fail("the pointer is still held after the release");
            Sleep(20);
        }
        return 0;
    }
    if (cmd == "holdinstance") {
        // What a closing viewer looks like: the instance held, no window.
        // argv[2] is a Windows path; the instance goes once it exists.
        HANDLE mutex = CreateMutexA(nullptr, TRUE, "VSViewer Mutex");
        if (!mutex || GetLastError() == ERROR_ALREADY_EXISTS) return Fail("the instance is taken");
        std::printf("held\n");
        std::fflush(stdout);
        const DWORD end = GetTickCount() + 120000;
        while (GetFileAttributesA(argv[2]) == INVALID_FILE_ATTRIBUTES) {
            if (Expired(end)) return Fail("never told to let go");
            Sleep(50);
        }
        ReleaseMutex(mutex);
        CloseHandle(mutex);
        return 0;
    }
    if (cmd == "thumbs") {
        HWND w = Need(text);
        return w ? PrintThumbnails(w) : 1;
    }
    if (cmd == "thumbsend" && argc > 3) {
        HWND w = Need(text);
        if (!w) return 1;
        RemoteView view(w);
        if (!view.Ok()) return Fail("no thumbnail view to read");
        const DWORD end = GetTickCount() + static_cast<DWORD>((argc > 4 ? std::atof(argv[4]) : 60.0) * 1000);
        // The view is filled in one go, its worker's event made right after.
        while (view.Count() == 0) {
            if (Expired(end)) return Fail("the thumbnail view stayed empty");
            Sleep(50);
        }
        HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, argv[3]);
        const int ended = WaitThumbnailWorker(event, end);
        if (event) CloseHandle(event);
        std::printf("ended=%d\n", ended);
        return ended ? 0 : 1;
    }
    if (cmd == "stopthumbs" && argc > 5) {
        HWND w = Need(text);
        if (!w) return 1;
        RemoteView view(w);
        if (!view.Ok()) return Fail("no thumbnail view to read");
        const UINT msg = static_cast<UINT>(std::strtoul(argv[3], nullptr, 0));
        const int item = std::atoi(argv[4]);
        const DWORD wait = static_cast<DWORD>((argc > 6 ? std::atof(argv[6]) : 60.0) * 1000);
        const DWORD end = GetTickCount() + wait;
        while (view.Count() <= item || view.Image(item) < 0) {
            if (Expired(end)) {
                PrintImages("before", view.Images());
                std::fprintf(stderr, "vsdriver: item %d got no image\n", item);
                return 1;
            }
            Sleep(10);
        }
        // Opened while the worker may still run: the event then outlives the
        // worker's handle. Not there: the worker has ended.
        HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, argv[5]);
        // The state just before the stop; printed once the stop is sent.
        const std::vector<int> before = view.Images();
        DWORD_PTR r = 0;
        SendMessageTimeoutA(w, msg, 0, 0, SMTO_NORMAL, 10000, &r);
        const std::vector<int> after = view.Images();
        PrintImages("before", before);
        PrintImages("after", after);
        const int ended = WaitThumbnailWorker(event, GetTickCount() + wait);
        if (event) CloseHandle(event);
        std::printf("ended=%d\n", ended);
        return 0;
    }
    if (cmd == "click" && argc > 4) {
        HWND w = Need(text);
        if (!w) return 1;
        POINT p{std::atoi(argv[3]), std::atoi(argv[4])};
        ClientToScreen(w, &p);
        SetForegroundWindow(w);
        SendMouse(0, p.x, p.y);
        Sleep(150);
        const int clicks = argc > 5 ? std::atoi(argv[5]) : 1;
        // A double click is told by the clicks' time stamps: stamped here, a
        // busy machine delaying this program cannot pull them apart.
        const DWORD start = GetTickCount();
        for (int i = 0; i < clicks; ++i) {
            const DWORD at = clicks > 1 ? start + 40 * static_cast<DWORD>(i) : 0;
            SendMouse(MOUSEEVENTF_LEFTDOWN, p.x, p.y, at);
            SendMouse(MOUSEEVENTF_LEFTUP, p.x, p.y, at);
            Sleep(clicks > 1 ? 40 : 150);
        }
        Sleep(200);
        return 0;
    }
    if (cmd == "ctrlkey" && argc > 3) {
        HWND w = Need(text);
        if (!w) return 1;
        // Real input: accelerators look at the key state, which posted
        // messages leave alone.
        SetForegroundWindow(w);
        Sleep(200);
        const WORD vk = static_cast<WORD>(KeyCode(argv[3]));
        const WORD keys[4] = {VK_CONTROL, vk, vk, VK_CONTROL};
        INPUT in[4] = {};
        for (int i = 0; i < 4; ++i) {
            in[i].type = INPUT_KEYBOARD;
            in[i].ki.wVk = keys[i];
            in[i].ki.wScan = static_cast<WORD>(MapVirtualKeyA(keys[i], 0));
            in[i].ki.dwFlags = i >= 2 ? KEYEVENTF_KEYUP : 0;
        }
        const UINT sent = SendInput(4, in, sizeof(INPUT));
        Sleep(150);
        return sent == 4 ? 0 : Fail("keys not sent (error %lu)", static_cast<unsigned long>(GetLastError()));
    }
    if (cmd == "reg") {
        for (int i = 2; i + 1 < argc; i += 2) {
            HKEY key = nullptr;
            BYTE data[2048] = {};
            DWORD type = 0, size = sizeof data - 1;
            LONG r = RegOpenKeyExA(HKEY_CURRENT_USER, argv[i], 0, KEY_READ, &key);
            if (r == ERROR_SUCCESS) {
                r = RegQueryValueExA(key, argv[i + 1], nullptr, &type, data, &size);
                RegCloseKey(key);
            }
            if (r != ERROR_SUCCESS)
                std::printf("<none>\n");
            else if (type == REG_DWORD)
                std::printf("%ld\n", static_cast<long>(*reinterpret_cast<LONG*>(data)));
            else
                std::printf("%s\n", reinterpret_cast<char*>(data));
        }
        return 0;
    }
    if ((cmd == "settext" && argc > 4) || (cmd == "listsel" && argc > 4) || (cmd == "check" && argc > 4)) {
        HWND d = WaitFor(text, 20.0, true);
        HWND control = d ? GetDlgItem(d, std::atoi(argv[3])) : nullptr;
        if (!control) {
            std::fprintf(stderr, "vsdriver: no control %s in \"%s\"\n", argv[3], text);
            return 1;
        }
        Sleep(200);
        DWORD_PTR ignored = 0;
        if (cmd == "settext") {
            SendMessageTimeoutA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[4]), SMTO_ABORTIFHUNG, 5000,
                                &ignored);
        } else if (cmd == "listsel") {
            SendMessageTimeoutA(control, LB_SETCURSEL, std::atoi(argv[4]), 0, SMTO_ABORTIFHUNG, 5000, &ignored);
            SendMessageTimeoutA(d, WM_COMMAND, MAKEWPARAM(std::atoi(argv[3]), LBN_SELCHANGE),
                                reinterpret_cast<LPARAM>(control), SMTO_ABORTIFHUNG, 5000, &ignored);
        } else {
            SendMessageTimeoutA(control, BM_SETCHECK, std::atoi(argv[4]) ? BST_CHECKED : BST_UNCHECKED, 0,
                                SMTO_ABORTIFHUNG, 5000, &ignored);
        }
        return 0;
    }
    return Usage();
}
