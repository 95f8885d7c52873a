// Drives the viewer from outside, as a user would. TEXT is part of a top-level window's caption, TITLE a
// dialog's whole caption, S a timeout in seconds, (X, Y) a client point; "real" input goes through the system's
// input queue. Every failure is reported on stderr with a non-zero status.
//   wait TEXT [S]                 print caption, rect, client, zoomed, focus
//   close TEXT | gone TEXT [S]    ask it to close | wait until it is gone
//   key TEXT KEY...               post keys to its focus (RIGHT, HOME, ADD, OEM_2, ..., a letter)
//   ctrlkey TEXT KEY              KEY with Ctrl held, real, to the front window
//   wheel TEXT X Y DELTA [ctrl]   a real wheel turn with the pointer at (X, Y), Ctrl held when asked
//   pan TEXT X Y DX DY            real press at (X, Y), move by (DX, DY), release; prints cursor= on the way
//   pointer TEXT X Y              move the pointer there; prints cursor= (handles differ between processes:
//                                 compare them only with each other)
//   panes TEXT | pixel TEXT X Y   the status pane texts and the bar's top= | R G B at (X, Y)
//   dialog TITLE ID [S]           wait for the dialog, print its texts, press button ID, return once it has gone
//   combo TITLE ID                the items of combo box ID, one a line
//   settext|listclick|check TITLE ID ARG   set control ID's text, click its list item ARG (real), or its check box
//   reg KEY VALUE...              values under HKEY_CURRENT_USER, "<none>" when missing
//   regset KEY VALUE dword N | sz TEXT
//   show TEXT CMD | shot TEXT FILE.bmp   ShowWindow CMD | the window's screen pixels once painted
//   holdinstance FILE | lockfile FILE UNTIL   hold the viewer's instance, as a closing viewer does, or FILE open
//                                 without sharing, until FILE | UNTIL (a Windows path) exists; prints "held"
//   button|menu TEXT ID           a toolbar button, or a context menu command
//   buttons TEXT                  the toolbar's buttons left to right: id x width enabled visible
//   popup TEXT ITEM HEIGHT FILE.bmp   point at item ITEM of the open popup menu, save the menu's pixels, print
//                                 the item's rect= in them, close it
//   drop TEXT PATH...             drop the paths through OLE; prints the effect
//   drag TEXT X Y                 press at (X, Y), move away and back, print capture= the class of the window
//                                 holding the pointer (the drag's own once one runs), release, return once free
//   click TEXT X Y [2]            real click (2: double, stamped 40 ms apart)
//   thumbs TEXT                   the thumbnail view: count=, selected=, then "item=I IMAGE L T R B LABEL"
//   thumbsend TEXT EVENT [S]      wait until the view is filled and its worker's event EVENT is set, or gone
//   stopthumbs TEXT MSG ITEM EVENT [S]   once item ITEM has an image, send MSG and print the images before=
//                                 and after= it, then ended= once the worker has ended
#include <windows.h>
#include <ole2.h>
#include <shellapi.h>

#include "app/resource.h"
#include "browse/win/dataobject.h"
#include "tests/e2e/drive.h"
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

const char kProgram[] = "vsdriver";

namespace {

std::string ClassOf(HWND wnd) {
    char cls[64] = {};
    GetClassNameA(wnd, cls, sizeof cls);
    return cls;
}

BOOL CALLBACK Collect(HWND child, LPARAM param) {
    reinterpret_cast<std::vector<HWND>*>(param)->push_back(child);
    return TRUE;
}

std::vector<HWND> Children(HWND wnd, const char* cls) {
    std::vector<HWND> all, found;
    EnumChildWindows(wnd, Collect, reinterpret_cast<LPARAM>(&all));
    for (HWND c : all)
        if (!lstrcmpiA(ClassOf(c).c_str(), cls)) found.push_back(c);
    return found;
}

HWND WaitFor(const char* text, double seconds, bool exact = false) {
    HWND w = nullptr;
    Until(Deadline(seconds), 100, [&] { return (w = Find(text, exact)) != nullptr; });
    return w;
}

LRESULT Send(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    SendMessageTimeoutA(wnd, msg, wParam, lParam, SMTO_ABORTIFHUNG, 10000, &result);
    return static_cast<LRESULT>(result);
}

void Describe(HWND wnd) {
    RECT r{}, c{};
    GetWindowRect(wnd, &r);
    GetClientRect(wnd, &c);
    HWND focus = FocusOf(wnd);
    std::printf("caption=%s\nrect=%ld %ld %ld %ld\nclient=%ld %ld\nzoomed=%d\nfocus=%s in \"%s\"\n",
                TextOf(wnd).c_str(), static_cast<long>(r.left), static_cast<long>(r.top), static_cast<long>(r.right),
                static_cast<long>(r.bottom), static_cast<long>(c.right), static_cast<long>(c.bottom),
                IsZoomed(wnd) ? 1 : 0, ClassOf(focus).c_str(), TextOf(GetAncestor(focus, GA_ROOT)).c_str());
}

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

    bool Ok() const { return remote_ != nullptr; }
    LPARAM At(size_t offset) const { return reinterpret_cast<LPARAM>(remote_ + offset); }
    void Put(size_t offset, const void* data, size_t size) const {
        WriteProcessMemory(process_, remote_ + offset, data, size, nullptr);
    }
    void Get(size_t offset, void* data, size_t size) const {
        ReadProcessMemory(process_, remote_ + offset, data, size, nullptr);
    }
    std::string Text(size_t offset) const {
        char text[1024] = {};
        Get(offset, text, sizeof text - 1);
        return text;
    }

private:
    HANDLE process_ = nullptr;
    char* remote_ = nullptr;
};

// The thumbnail view read through the list view messages.
class RemoteView : public Remote {
public:
    explicit RemoteView(HWND wnd) : Remote(GetDlgItem(wnd, 122)), view_(GetDlgItem(wnd, 122)) {}
    HWND Hwnd() const { return view_; }
    int Count() const { return static_cast<int>(SendMessageA(view_, LVM_GETITEMCOUNT, 0, 0)); }
    // The item's image index and, when label is given, its text.
    int Image(int i, std::string* label = nullptr) const {
        LVITEMA item{};
        item.mask = LVIF_IMAGE | (label ? LVIF_TEXT : 0);
        item.iItem = i;
        item.pszText = reinterpret_cast<char*>(At(1024));
        item.cchTextMax = 512;
        Put(1024, "", 1);
        Put(0, &item, sizeof item);
        SendMessageA(view_, LVM_GETITEMA, 0, At(0));
        Get(0, &item, sizeof item);
        if (label) *label = Text(1024);
        return item.iImage;
    }
    // The item's icon bounds in the client coordinates of wnd.
    RECT IconRect(int i, HWND wnd) const {
        RECT r{LVIR_ICON, 0, 0, 0};
        Put(512, &r, sizeof r);
        SendMessageA(view_, LVM_GETITEMRECT, static_cast<WPARAM>(i), At(512));
        Get(512, &r, sizeof r);
        MapWindowPoints(view_, wnd, reinterpret_cast<POINT*>(&r), 2);
        return r;
    }
    std::string Images() const {
        std::string images;
        for (int i = 0, count = Count(); i < count; ++i) images += (i ? " " : "") + std::to_string(Image(i));
        return images;
    }

private:
    HWND view_;
};

// Waits for the end of the view's worker through its completion event: set
// at its end, or already gone when the worker that held it has ended.
int PrintWorkerEnd(HANDLE event, DWORD end) {
    const int ended = !event || WaitForSingleObject(event, Expired(end) ? 0 : end - GetTickCount()) == WAIT_OBJECT_0;
    if (event) CloseHandle(event);
    std::printf("ended=%d\n", ended);
    return ended;
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
    return EXCEPTION_EXECUTE_HANDLER;
}

// time 0: stamped by the system as it arrives; data: the wheel's turn.
bool SendMouse(DWORD flags, POINT p, DWORD time = 0, DWORD data = 0) {
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.time = time;
    input.mi.mouseData = data;
    input.mi.dx = p.x * 65535 / (GetSystemMetrics(SM_CXSCREEN) - 1);
    input.mi.dy = p.y * 65535 / (GetSystemMetrics(SM_CYSCREEN) - 1);
    input.mi.dwFlags = flags | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_MOVE;
    if (SendInput(1, &input, sizeof input) == 1) return true;
    Fail("mouse input %#lx not sent (error %lu)", static_cast<unsigned long>(flags),
         static_cast<unsigned long>(GetLastError()));
    return false;
}

// The window's screen pixels as a 24-bit BMP file.
bool SaveBmp(const char* file, HWND wnd) {
    RECT r{};
    GetWindowRect(wnd, &r);
    const int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0) return false;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof bi.bmiHeader, w, h, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, dib);
    BitBlt(mem, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    const DWORD imageSize = ((static_cast<DWORD>(w) * 3 + 3) & ~3u) * static_cast<DWORD>(h);
    BITMAPFILEHEADER fh{0x4D42, 0, 0, 0, sizeof fh + sizeof bi.bmiHeader};
    fh.bfSize = fh.bfOffBits + imageSize;
    bool ok = false;
    if (FILE* f = std::fopen(file, "wb")) {
        ok = bits && std::fwrite(&fh, sizeof fh, 1, f) == 1 &&
             std::fwrite(&bi.bmiHeader, sizeof bi.bmiHeader, 1, f) == 1 && std::fwrite(bits, imageSize, 1, f) == 1;
        ok = std::fclose(f) == 0 && ok;
    }
    SelectObject(mem, old);
    DeleteObject(dib);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return ok;
}

// The texts of a dialog's static controls, one a line; then button id is
// pressed and the call returns once the dialog has gone.
bool AnswerDialog(const char* title, int id, double seconds, std::string* texts) {
    HWND d = WaitFor(title, seconds, true);
    if (!d) return false;
    Sleep(200);
    for (HWND c : Children(d, "Static"))
        if (!TextOf(c).empty()) *texts += TextOf(c) + "\n";
    PostMessageA(d, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
    // Return only once it is gone: a key sent earlier would reach the
    // dialog. Its loop notices its end at the next message: send one.
    const DWORD thread = GetWindowThreadProcessId(d, nullptr);
    Until(Deadline(15), 50, [&] { return !IsWindow(d) || (PostThreadMessageA(thread, WM_NULL, 0, 0), false); });
    return true;
}

COLORREF PixelAt(HWND wnd, int x, int y) {
    POINT p{x, y};
    ClientToScreen(wnd, &p);
    HDC screen = GetDC(nullptr);
    const COLORREF c = GetPixel(screen, p.x, p.y);
    ReleaseDC(nullptr, screen);
    return c;
}

HCURSOR CursorNow() {
    CURSORINFO info{};
    info.cbSize = sizeof info;
    return GetCursorInfo(&info) ? info.hCursor : nullptr;
}

// Presses the left button at p and moves by (dx, dy) in ten steps; the
// cursor halfway goes to *midway.
bool PressAndMove(POINT p, int dx, int dy, HCURSOR* midway) {
    if (!SendMouse(0, p)) return false;
    Sleep(200);
    if (!SendMouse(MOUSEEVENTF_LEFTDOWN, p)) return false;
    for (int i = 1; i <= 10; ++i) {
        Sleep(50);
        if (!SendMouse(0, POINT{p.x + dx * i / 10, p.y + dy * i / 10})) return false;
        if (i == 5 && midway) *midway = CursorNow();
    }
    return true;
}

// Done once the drag (or the press) has let the pointer go.
bool LetGo(HWND w) {
    if (Until(Deadline(10), 20, [&] { return !ThreadInfo(w).hwndCapture; })) return true;
    Fail("the pointer is still held after the release");
    return false;
}

int Usage() {
    std::fprintf(stderr, "usage: vsdriver COMMAND TEXT ... (the commands are listed at the top of vsdriver.cpp)\n");
    return 2;
}

// Arguments after the command's word; a missing one reads as the default.
struct Args {
    int argc;
    char** argv;
    const char* S(int i) const { return i < argc ? argv[i] : ""; }
    int I(int i) const { return std::atoi(S(i)); }
    double Seconds(int i, double fallback) const { return i < argc ? std::atof(argv[i]) : fallback; }
};

int Command(const std::string& cmd, const Args& a, HWND w) {
    const char* text = a.argv[2];
    // Client point (3, 4) on the screen, the window brought to the front.
    auto point = [&] {
        POINT p{a.I(3), a.I(4)};
        ClientToScreen(w, &p);
        SetForegroundWindow(w);
        return p;
    };
    if (cmd == "wait") {
        if (!(w = WaitFor(text, a.Seconds(3, 30.0)))) return Fail("no window with \"%s\"", text);
        Describe(w);
    } else if (cmd == "close") {
        PostMessageA(w, WM_CLOSE, 0, 0);
    } else if (cmd == "gone") {
        if (!Until(Deadline(a.Seconds(3, 30.0)), 100, [&] { return !Find(text); }))
            return Fail("\"%s\" still there", text);
    } else if (cmd == "key") {
        for (int i = 3; i < a.argc; ++i) {
            PostKey(w, KeyCode(a.argv[i]));
            Sleep(150);
        }
    } else if (cmd == "panes") {
        HWND bar = FindWindowExA(w, nullptr, "msctls_statusbar32", nullptr);
        Remote remote(bar);
        if (!remote.Ok()) return Fail("no status bar");
        for (int pane = 0; pane < 4; ++pane) {
            remote.Put(0, std::string(1024, '\0').data(), 1024);
            Send(bar, SB_GETTEXTA, pane, remote.At(0));
            std::printf("pane%d=%s\n", pane, remote.Text(0).c_str());
        }
        RECT r{};
        GetWindowRect(bar, &r);
        MapWindowPoints(nullptr, w, reinterpret_cast<POINT*>(&r), 2);
        std::printf("top=%ld\n", static_cast<long>(r.top));
    } else if (cmd == "pixel") {
        const COLORREF c = PixelAt(w, a.I(3), a.I(4));
        std::printf("%d %d %d\n", GetRValue(c), GetGValue(c), GetBValue(c));
    } else if (cmd == "dialog") {
        std::string texts;
        if (!AnswerDialog(text, a.I(3), a.Seconds(4, 20.0), &texts)) return Fail("no dialog \"%s\"", text);
        std::printf("%s", texts.c_str());
    } else if (cmd == "combo") {
        HWND d = WaitFor(text, 20.0, true);
        HWND combo = d ? GetDlgItem(d, a.I(3)) : nullptr;
        if (!combo) return Fail("no combo box %s in \"%s\"", a.S(3), text);
        // The system carries the item texts across processes itself, as
        // the control's own wide characters.
        for (LRESULT i = 0, n = Send(combo, CB_GETCOUNT, 0, 0); i < n; ++i) {
            wchar_t item[512] = {};
            DWORD_PTR length = 0;
            SendMessageTimeoutW(combo, CB_GETLBTEXTLEN, i, 0, SMTO_ABORTIFHUNG, 10000, &length);
            if (length < sizeof item / sizeof item[0])
                SendMessageTimeoutW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item), SMTO_ABORTIFHUNG, 10000,
                                    &length);
            std::printf("%s\n", Utf8(item).c_str());
        }
    } else if (cmd == "settext" || cmd == "listclick" || cmd == "check") {
        HWND d = WaitFor(text, 20.0, true);
        HWND control = d ? GetDlgItem(d, a.I(3)) : nullptr;
        if (!control) return Fail("no control %s in \"%s\"", a.S(3), text);
        Sleep(200);
        if (cmd == "settext") {
            wchar_t wide[1024] = {};
            MultiByteToWideChar(CP_UTF8, 0, a.S(4), -1, wide, sizeof wide / sizeof wide[0]);
            DWORD_PTR done = 0;
            SendMessageTimeoutW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide), SMTO_ABORTIFHUNG, 10000, &done);
        } else if (cmd == "listclick") {
            // The system carries a list box's rect across processes itself.
            RECT item{};
            if (Send(control, LB_GETITEMRECT, a.I(4), reinterpret_cast<LPARAM>(&item)) == LB_ERR || IsRectEmpty(&item))
                return Fail("no item %d", a.I(4));
            POINT p{(item.left + item.right) / 2, (item.top + item.bottom) / 2};
            ClientToScreen(control, &p);
            SetForegroundWindow(d);
            SendMouse(0, p);
            SendMouse(MOUSEEVENTF_LEFTDOWN, p);
            SendMouse(MOUSEEVENTF_LEFTUP, p);
            Sleep(200);
        } else {
            Send(control, BM_SETCHECK, a.I(4) ? BST_CHECKED : BST_UNCHECKED, 0);
        }
    } else if (cmd == "reg") {
        for (int i = 2; i + 1 < a.argc; i += 2) {
            BYTE data[2048] = {};
            DWORD type = 0, size = sizeof data - 1;
            if (RegGetValueA(HKEY_CURRENT_USER, a.argv[i], a.argv[i + 1], RRF_RT_ANY | RRF_NOEXPAND, &type, data,
                             &size) != ERROR_SUCCESS)
                std::printf("<none>\n");
            else if (type == REG_DWORD)
                std::printf("%ld\n", static_cast<long>(*reinterpret_cast<LONG*>(data)));
            else
                std::printf("%s\n", reinterpret_cast<char*>(data));
        }
    } else if (cmd == "regset") {
        const DWORD v = static_cast<DWORD>(std::strtoul(a.S(5), nullptr, 0));
        const bool dword = !std::strcmp(a.S(4), "dword");
        const LONG r = RegSetKeyValueA(HKEY_CURRENT_USER, text, a.S(3), dword ? REG_DWORD : REG_SZ,
                                       dword ? static_cast<const void*>(&v) : a.S(5),
                                       dword ? sizeof v : static_cast<DWORD>(std::strlen(a.S(5)) + 1));
        if (r != ERROR_SUCCESS) return Fail("value %s not set (error %ld)", a.S(3), static_cast<long>(r));
    } else if (cmd == "show") {
        ShowWindowAsync(w, a.I(3));
    } else if (cmd == "shot") {
        // Returns once the window has painted what is pending.
        RedrawWindow(w, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
        if (!SaveBmp(a.S(3), w)) return Fail("%s not written", a.S(3));
    } else if (cmd == "holdinstance" || cmd == "lockfile") {
        // What a closing viewer looks like (the instance held, no window), or
        // another program's hold on a picture (opened without sharing); let
        // go once the file named last (a Windows path) exists.
        const bool instance = cmd == "holdinstance";
        HANDLE held = instance ? CreateMutexA(nullptr, TRUE, "VSViewer Mutex")
                               : CreateFileA(text, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (!held || held == INVALID_HANDLE_VALUE || (instance && GetLastError() == ERROR_ALREADY_EXISTS))
            return Fail("%s is taken", text);
        std::printf("held\n");
        std::fflush(stdout);
        const char* until = instance ? text : a.S(3);
        const bool told = Until(Deadline(120), 50, [&] { return GetFileAttributesA(until) != INVALID_FILE_ATTRIBUTES; });
        if (instance) ReleaseMutex(held);
        CloseHandle(held);
        if (!told) return Fail("never told to let go");
    } else if (cmd == "button" || cmd == "menu" || cmd == "buttons") {
        // The toolbar panel: a dialog inside the main window.
        HWND panel = FindWindowExA(w, nullptr, "#32770", nullptr);
        if (!panel) return Fail("no toolbar panel in \"%s\"", text);
        if (cmd == "button") PostMessageA(panel, WM_USER + 10, static_cast<WPARAM>(a.I(3)), 0);
        if (cmd == "menu") PostMessageA(panel, WM_COMMAND, MAKEWPARAM(a.I(3), 0), 0);
        if (cmd != "buttons") return 0;
        std::vector<std::pair<RECT, HWND>> rows;
        for (HWND b : Children(panel, "Button")) {
            RECT r{};
            GetWindowRect(b, &r);
            MapWindowPoints(nullptr, GetParent(b), reinterpret_cast<POINT*>(&r), 2);
            rows.emplace_back(r, b);
        }
        std::stable_sort(rows.begin(), rows.end(), [](const auto& x, const auto& y) { return x.first.left < y.first.left; });
        for (const auto& [r, b] : rows)
            std::printf("%d %ld %ld %d %d\n", GetDlgCtrlID(b), static_cast<long>(r.left), static_cast<long>(r.right - r.left),
                        IsWindowEnabled(b) ? 1 : 0, IsWindowVisible(b) ? 1 : 0);
    } else if (cmd == "popup") {
        HWND menu = nullptr;
        if (!Until(Deadline(10), 100, [&] { return (menu = FindWindowA("#32768", nullptr)) && IsWindowVisible(menu); }))
            return Fail("no menu open");
        // The menu lives in the viewer's process: its items are found by
        // their height, HEIGHT pixels each from the top of the menu's client area.
        RECT item{}, whole{};
        GetClientRect(menu, &item);
        MapWindowPoints(menu, nullptr, reinterpret_cast<POINT*>(&item), 2);
        item.top += a.I(3) * a.I(4);
        item.bottom = item.top + a.I(4);
        GetWindowRect(menu, &whole);
        SendMouse(0, POINT{(item.left + item.right) / 2, (item.top + item.bottom) / 2});
        Sleep(500);
        const bool saved = SaveBmp(a.S(5), menu);
        std::printf("rect=%d %d %d %d\n", static_cast<int>(item.left - whole.left), static_cast<int>(item.top - whole.top),
                    static_cast<int>(item.right - whole.left), static_cast<int>(item.bottom - whole.top));
        SendKeys({VK_ESCAPE, -VK_ESCAPE});
        if (!Until(Deadline(10), 100, [&] { return !IsWindowVisible(menu); })) return Fail("the menu stays open");
        if (!saved) return Fail("menu not saved");
    } else if (cmd == "drop") {
        OleInitialize(nullptr);
        VSDataObject* data = new VSDataObject;
        data->Add(CF_HDROP, MakeDropFiles(std::vector<std::string>(a.argv + 3, a.argv + a.argc)));
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
    } else if (cmd == "drag") {
        const POINT p = point();
        bool sent = PressAndMove(p, 30, 20, nullptr) && SendMouse(0, p);
        // While a drag runs, its own tracking window, outside the viewer's
        // window, holds the pointer.
        HWND holder = nullptr;
        if (sent) Until(Deadline(10), 20, [&] {
            holder = ThreadInfo(w).hwndCapture;
            return holder && GetAncestor(holder, GA_ROOT) != w;
        });
        std::printf("capture=%s\n", holder ? ClassOf(holder).c_str() : "none");
        std::fflush(stdout);
        // Released even after a failure: a held button would spoil the steps after.
        if (!SendMouse(MOUSEEVENTF_LEFTUP, p) || !sent || !LetGo(w)) return 1;
    } else if (cmd == "click") {
        const POINT p = point();
        SendMouse(0, p);
        Sleep(150);
        const int clicks = a.argc > 5 ? a.I(5) : 1;
        // A double click is told by the clicks' time stamps: stamped here, a
        // busy machine delaying this program cannot pull them apart.
        const DWORD start = GetTickCount();
        for (int i = 0; i < clicks; ++i) {
            const DWORD at = clicks > 1 ? start + 40 * static_cast<DWORD>(i) : 0;
            SendMouse(MOUSEEVENTF_LEFTDOWN, p, at);
            SendMouse(MOUSEEVENTF_LEFTUP, p, at);
            Sleep(clicks > 1 ? 40 : 150);
        }
        Sleep(200);
    } else if (cmd == "ctrlkey") {
        // Real input: accelerators look at the key state, which posted
        // messages leave alone.
        SetForegroundWindow(w);
        Sleep(200);
        const bool sent = SendCtrlKey(KeyCode(a.S(3)));
        Sleep(150);
        if (!sent) return Fail("keys not sent (error %lu)", static_cast<unsigned long>(GetLastError()));
    } else if (cmd == "pointer") {
        if (!SendMouse(0, point())) return 1;
        Sleep(300);
        std::printf("cursor=%p\n", static_cast<void*>(CursorNow()));
    } else if (cmd == "wheel") {
        const POINT p = point();
        const bool ctrl = !std::strcmp(a.S(6), "ctrl");
        Sleep(200);
        // The pointer moves with the turn, not before Ctrl: Wine moves the X pointer
        // under a grab, and when the viewer hears of it, it takes the X keyboard's
        // state, where Ctrl is up; heard between Ctrl and the turn, that lost Ctrl.
        if (ctrl && !SendKeys({VK_CONTROL})) return 1;
        const bool sent = SendMouse(MOUSEEVENTF_WHEEL, p, 0, static_cast<DWORD>(a.I(5)));
        Sleep(100);
        if (ctrl) SendKeys({-VK_CONTROL});
        Sleep(100);
        if (!sent) return 1;
    } else if (cmd == "pan") {
        const POINT p = point();
        HCURSOR cursor = nullptr;
        const bool sent = PressAndMove(p, a.I(5), a.I(6), &cursor);
        Sleep(100);
        std::printf("cursor=%p\n", static_cast<void*>(cursor));
        std::fflush(stdout);
        if (!SendMouse(MOUSEEVENTF_LEFTUP, POINT{p.x + a.I(5), p.y + a.I(6)}) || !sent || !LetGo(w)) return 1;
    } else {  // thumbs, thumbsend, stopthumbs
        RemoteView view(w);
        if (!view.Ok()) return Fail("no thumbnail view to read");
        if (cmd == "thumbs") {
            const int count = view.Count();
            std::printf("count=%d\nselected=%d\n", count,
                        static_cast<int>(SendMessageA(view.Hwnd(), LVM_GETNEXTITEM, static_cast<WPARAM>(-1),
                                                      LVNI_SELECTED)));
            for (int i = 0; i < count; ++i) {
                std::string label;
                const int image = view.Image(i, &label);
                const RECT r = view.IconRect(i, w);
                std::printf("item=%d %d %ld %ld %ld %ld %s\n", i, image, static_cast<long>(r.left),
                            static_cast<long>(r.top), static_cast<long>(r.right), static_cast<long>(r.bottom),
                            label.c_str());
            }
        } else if (cmd == "thumbsend") {
            const DWORD end = Deadline(a.Seconds(4, 60.0));
            // The view is filled in one go, its worker's event made right after.
            if (!Until(end, 50, [&] { return view.Count() > 0; })) return Fail("the thumbnail view stayed empty");
            return PrintWorkerEnd(OpenEventA(SYNCHRONIZE, FALSE, a.S(3)), end) ? 0 : 1;
        } else {
            const int item = a.I(4);
            const double wait = a.Seconds(6, 60.0);
            if (!Until(Deadline(wait), 10, [&] { return view.Count() > item && view.Image(item) >= 0; })) {
                std::printf("before=%s\n", view.Images().c_str());
                return Fail("item %d got no image", item);
            }
            // Opened while the worker may still run: the event then outlives
            // the worker's handle. Not there: the worker has ended.
            HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, a.S(5));
            // The state just before the stop, printed once the stop is sent.
            const std::string before = view.Images();
            DWORD_PTR r = 0;
            SendMessageTimeoutA(w, static_cast<UINT>(std::strtoul(a.S(3), nullptr, 0)), 0, 0, SMTO_NORMAL, 10000, &r);
            std::printf("before=%s\nafter=%s\n", before.c_str(), view.Images().c_str());
            PrintWorkerEnd(event, Deadline(wait));
        }
    }
    return 0;
}

}  // namespace

int main(int, char**) {
    int argc = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::string> args(static_cast<size_t>(wide ? argc : 0));
    std::vector<char*> pointers;
    for (size_t i = 0; i < args.size(); ++i) {
        args[i] = Utf8(wide[i]);
        pointers.push_back(&args[i][0]);
    }
    pointers.push_back(nullptr);
    char** argv = pointers.data();
    SetUnhandledExceptionFilter(ReportCrash);
    std::set_terminate([] {
        Fail("uncaught C++ exception");
        std::abort();
    });
    if (argc < 3) return Usage();
    // The commands that act on the window TEXT names, and the others.
    static const char kWindow[] = " close key ctrlkey wheel pan pointer panes pixel show shot button menu buttons popup"
                                  " drop drag click thumbs thumbsend stopthumbs ";
    static const char kOther[] = " wait gone dialog combo settext listclick check reg regset holdinstance lockfile ";
    const std::string cmd = std::string(" ") + argv[1] + " ";
    const bool window = std::strstr(kWindow, cmd.c_str()) != nullptr;
    if (!window && !std::strstr(kOther, cmd.c_str())) return Usage();
    HWND w = window ? Find(argv[2]) : nullptr;
    if (window && !w) return Fail("no window with \"%s\"", argv[2]);
    const int status = Command(argv[1], Args{argc, argv}, w);
    std::fflush(stdout);
    return status;
}
