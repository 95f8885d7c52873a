// The viewer's timings, read from outside as the end-to-end driver reads it.
// TEXT is part of the viewer window's caption.
//   steps TEXT GAP ACTION...   per action (a key, ctrl:KEY as real input, or open:PATH handed over as a second
//                              start does) the milliseconds until the paint of the view it brings ends; full:KEY
//                              waits for the view drawn from the picture at its real size; GAP ms between actions
//   stalls TEXT S              for S seconds, how long the window takes to answer: prints answers=, longest=
//                              and over100= (milliseconds)
#include "app/resource.h"
#include "tests/e2e/drive.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

const char kProgram[] = "benchdriver";

namespace {

double Milliseconds(LONGLONG from, LONGLONG to) {
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to - from) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

int Steps(HWND w, int argc, char** argv) {
    for (int i = 4; i < argc; ++i) {
        const HANDLE before = GetPropA(w, VS_PROP_PAINTED);
        const std::string action = argv[i];
        const bool ctrl = action.compare(0, 5, "ctrl:") == 0, full = action.compare(0, 5, "full:") == 0;
        if (ctrl) {
            SetForegroundWindow(w);
            Until(Deadline(5), 10, [&] { return GetForegroundWindow() == w; });
        }
        LARGE_INTEGER start{};
        QueryPerformanceCounter(&start);
        if (action.compare(0, 5, "open:") == 0) {
            const std::string path = action.substr(5);
            COPYDATASTRUCT data{0, static_cast<DWORD>(path.size()), const_cast<char*>(path.data())};
            SendMessageA(w, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
        } else if (ctrl) {
            if (!SendCtrlKey(KeyCode(action.c_str() + 5))) return Fail("keys not sent");
        } else {
            PostKey(w, KeyCode(action.c_str() + (full ? 5 : 0)));
        }
        // The viewer stamps the time itself: looking now and then is enough.
        if (!Until(Deadline(30), 10, [&] {
                return GetPropA(w, VS_PROP_PAINTED) != before && (!full || GetPropA(w, VS_PROP_PAINT_FULL));
            }))
            return Fail("no view painted after %s", action.c_str());
        const auto end = reinterpret_cast<uintptr_t>(GetPropA(w, VS_PROP_PAINT_TIME));
        std::printf("%s %.1f\n", action.c_str(), Milliseconds(start.QuadPart, static_cast<LONGLONG>(end)));
        std::fflush(stdout);
        Sleep(static_cast<DWORD>(std::atoi(argv[3])));
    }
    return 0;
}

int Stalls(HWND w, double seconds) {
    const DWORD end = Deadline(seconds);
    int answers = 0, over = 0;
    double longest = 0;
    while (!Expired(end)) {
        LARGE_INTEGER start{}, now{};
        QueryPerformanceCounter(&start);
        DWORD_PTR ignored = 0;
        if (!SendMessageTimeoutA(w, WM_NULL, 0, 0, SMTO_NORMAL, 30000, &ignored)) return Fail("no answer");
        QueryPerformanceCounter(&now);
        const double ms = Milliseconds(start.QuadPart, now.QuadPart);
        ++answers;
        over += ms > 100;
        longest = std::max(longest, ms);
        Sleep(5);
    }
    std::printf("answers=%d\nlongest=%.1f\nover100=%d\n", answers, longest, over);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string cmd = argc > 3 ? argv[1] : "";
    if (cmd != "steps" && cmd != "stalls") {
        std::fprintf(stderr, "usage: benchdriver steps|stalls TEXT ... (listed at the top of benchdriver.cpp)\n");
        return 2;
    }
    HWND w = Find(argv[2]);
    if (!w) return Fail("no window with \"%s\"", argv[2]);
    const int status = cmd == "steps" ? Steps(w, argc, argv) : Stalls(w, std::atof(argv[3]));
    std::fflush(stdout);
    return status;
}
