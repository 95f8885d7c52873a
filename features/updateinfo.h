// The update check's decisions: version texts as numbers, which result
// dialog a check ends in, and the texts those dialogs show.
#ifndef VS_FEATURES_UPDATEINFO_H
#define VS_FEATURES_UPDATEINFO_H

#include <cstdint>
#include <string>

extern const char kOwnVersion[];  // "2.0"
extern const char kOwnBuild[];    // "071130"
extern const char kUpdateInfoPath[];  // "/swinfo/vsvinfo.xml"
extern const char kDownloadPagePath[];  // "/vistrel/viewer/index.html"
// The installed editor's version key under HKEY_CURRENT_USER.
extern const char kEditorVersionKey[];

// A text as the C function atof reads it: leading blanks, the longest
// numeric prefix, 0 when there is none.
float VersionNumber(const std::string& text);

// The editor's version and build from its two texts; both 0 when both
// texts are empty.
void EditorVersionFrom(const std::string& versionText, const std::string& buildText, float* version,
                       float* build);

// The result dialogs, by resource number.
enum VSUpdateResult : uint32_t {
    kUpdateFailed = 109,       // no document fetched
    kUpdateLatest = 110,       // nothing newer
    kUpdateNewer = 111,        // a newer version or build
    kUpdateBadDocument = 112,  // not XML, or without the expected nodes
};

// What the fetch and the parse found.
struct VSUpdateFacts {
    bool fetched = false;
    bool parsed = false;
    // The document's top-level nodes and the root's child nodes; -1 when
    // the count could not be read.
    int32_t topLevelCount = -1;
    int32_t rootChildCount = -1;
    std::string remoteVersion;
    std::string remoteBuild;
};

// Newer when the own version is less than the remote one, or else the
// own build less than the remote build. Not-a-number is never less.
bool IsNewerRelease(const std::string& ownVersion, const std::string& ownBuild, const std::string& remoteVersion,
                    const std::string& remoteBuild);

VSUpdateResult DecideUpdate(const VSUpdateFacts& facts, const std::string& ownVersion = kOwnVersion,
                            const std::string& ownBuild = kOwnBuild);

// The text of dialog 111, with CR LF line breaks.
std::string NewerVersionText(const std::string& remoteVersion, const std::string& remoteBuild);
// The text of dialog 112 with the maker's server name put in.
std::string RouteProblemText(const std::string& host);

// "http://" + host + path; a host that already names a scheme is kept.
std::string HostAddress(const std::string& host, const std::string& path);

// The address with its host part (after "scheme://", up to the next "/")
// replaced by host; an address without a scheme is returned unchanged.
std::string WithHost(const std::string& address, const std::string& host);

#endif
