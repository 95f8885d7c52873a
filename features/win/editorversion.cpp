// The installed editor's version and the dialog that asks for a newer one.
#include "features/win/features.h"
#include "features/win/featuresres.h"
#include "features/win/winregtree.h"

#include "app/framework.h"
#include "app/resource.h"
#include "features/updateinfo.h"

namespace {

class CVSPVersion : public CDialogBase {
public:
    CVSPVersion() : CDialogBase(IDD_EDITOR_UPDATE) {}

protected:
    BOOL OnInitDialog() override {
        SetDlgItemTextA(Hwnd(), IDC_EDITOR_TEXT, ResourceText(IDS_EDITOR_TOO_OLD).c_str());
        return TRUE;
    }
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM, LRESULT*) override {
        if (msg != WM_COMMAND) return false;
        switch (LOWORD(wParam)) {
        case IDOK:
            OpenUrl(PageAddress(IDS_FAMILY_PAGE));
            EndDialog(1);
            return true;
        case IDCANCEL: EndDialog(2); return true;
        default: return false;
        }
    }
};

}  // namespace

void ReadEditorVersion(float* version, float* build) {
    *version = 0;
    *build = 0;
    VSWinRegTree tree;
    if (!tree.KeyExists(kEditorVersionKey)) return;
    std::string versionText, buildText;
    tree.ReadText(kEditorVersionKey, "version", &versionText);
    tree.ReadText(kEditorVersionKey, "build", &buildText);
    EditorVersionFrom(versionText, buildText, version, build);
}

void ShowEditorUpdateDialog(HWND owner) {
    CVSPVersion dialog;
    dialog.DoModal(owner);
}
