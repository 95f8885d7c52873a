// The About dialog.
#include "features/win/features.h"
#include "features/win/featuresres.h"

#include "app/framework.h"
#include "app/resource.h"

namespace {

class CAboutDialog : public CDialogBase {
public:
    CAboutDialog() : CDialogBase(IDD_ABOUT) {}

protected:
    BOOL OnInitDialog() override {
        const std::string line =
            "Vistrel Viewer " + ResourceText(IDS_VERSION) + " (build " + ResourceText(IDS_BUILD) + ") ";
        SetDlgItemTextA(Hwnd(), IDC_ABOUT_VERSION, line.c_str());
        return TRUE;
    }
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM, LRESULT*) override {
        if (msg != WM_COMMAND) return false;
        switch (LOWORD(wParam)) {
        case IDC_ABOUT_OPEN_PAGE: OpenUrl(PageAddress(IDS_FAMILY_PAGE)); return true;
        case IDOK: case IDCANCEL: EndDialog(LOWORD(wParam)); return true;
        default: return false;
        }
    }
};

}  // namespace

void ShowAbout(HWND owner) {
    CAboutDialog dialog;
    dialog.DoModal(owner);
}
