#include "features/updateinfo.h"

#include <cstdlib>

const char kOwnVersion[] = "2.0";
const char kOwnBuild[] = "071130";
const char kUpdateInfoPath[] = "/swinfo/vsvinfo.xml";
const char kDownloadPagePath[] = "/vistrel/viewer/index.html";
const char kEditorVersionKey[] = "Software\\Classes\\CLSID\\{0BT342-F423-GH322-342GH-0932324723}\\misc";

float VersionNumber(const std::string& text) { return static_cast<float>(std::atof(text.c_str())); }

void EditorVersionFrom(const std::string& versionText, const std::string& buildText, float* version,
                       float* build) {
    *version = 0;
    *build = 0;
    if (versionText.empty() && buildText.empty()) return;
    *version = VersionNumber(versionText);
    *build = VersionNumber(buildText);
}

bool IsNewerRelease(const std::string& ownVersion, const std::string& ownBuild, const std::string& remoteVersion,
                    const std::string& remoteBuild) {
    if (VersionNumber(ownVersion) < VersionNumber(remoteVersion)) return true;
    return VersionNumber(ownBuild) < VersionNumber(remoteBuild);
}

VSUpdateResult DecideUpdate(const VSUpdateFacts& facts, const std::string& ownVersion, const std::string& ownBuild) {
    if (!facts.fetched) return kUpdateFailed;
    if (!facts.parsed) return kUpdateBadDocument;
    // The document is read by position: the root is the second top-level
    // node, and it needs two children. Anything shorter is no update
    // information at all.
    if (facts.topLevelCount >= 0 && facts.topLevelCount < 2) return kUpdateBadDocument;
    if (facts.rootChildCount >= 0 && facts.rootChildCount < 2) return kUpdateBadDocument;
    std::string version, build;
    if (facts.rootChildCount >= 0) {
        version = facts.remoteVersion;
        build = facts.remoteBuild;
    }
    return IsNewerRelease(ownVersion, ownBuild, version, build) ? kUpdateNewer : kUpdateLatest;
}

std::string NewerVersionText(const std::string& remoteVersion, const std::string& remoteBuild) {
    return "Newer version of the program,\r\n" + remoteVersion + " (build " + remoteBuild + ") \r\n" +
           " is available for download.";
}

std::string RouteProblemText(const std::string& host) {
    return "Sorry, Vistrel Viewer could not establish connection to check for the latest version. It seems "
           "there is some problem on route between your ISP and " +
           host + " server. Please try again later.";
}

std::string HostAddress(const std::string& host, const std::string& path) {
    if (host.find("://") != std::string::npos) return host + path;
    return "http://" + host + path;
}

std::string WithHost(const std::string& address, const std::string& host) {
    const size_t scheme = address.find("://");
    if (scheme == std::string::npos || host.empty()) return address;
    const size_t start = scheme + 3;
    const size_t end = address.find('/', start);
    std::string hostOnly = host;
    // A host given with its own scheme keeps the address's.
    if (hostOnly.find("://") != std::string::npos) hostOnly = hostOnly.substr(hostOnly.find("://") + 3);
    while (!hostOnly.empty() && hostOnly.back() == '/') hostOnly.pop_back();
    return address.substr(0, start) + hostOnly + (end == std::string::npos ? std::string() : address.substr(end));
}
