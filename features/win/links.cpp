// Web addresses of the maker's server and opening them in the browser.
#include "features/win/features.h"
#include "features/win/process.h"
#include "features/win/serverhost.h"
#include "features/win/winregtree.h"

#include "app/framework.h"
#include "app/resource.h"
#include "app/settings_core.h"
#include "features/updateinfo.h"

#include <vector>

const char kValueUpdateHost[] = "UpdateHost";

std::string ServerHost() {
    VSWinRegTree tree;
    std::string host;
    if (tree.ReadText(kSettingsKey, kValueUpdateHost, &host) && !host.empty()) return host;
    return ResourceText(IDS_UPDATE_HOST);
}

std::string PageAddress(UINT stringId) { return WithHost(ResourceText(stringId), ServerHost()); }

bool StartProcess(const std::string& command) {
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    GetStartupInfoA(&startup);
    startup.dwFlags &= ~STARTF_USESIZE;
    startup.wShowWindow = SW_SHOWDEFAULT;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr, nullptr,
                        &startup, &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

bool OpenUrl(const std::string& address) {
    // explorer.exe hands an address to the user's default browser.
    return StartProcess("explorer.exe " + address);
}
