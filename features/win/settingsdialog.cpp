// The settings dialog: which picture types open with the viewer, and
// whether pictures are turned upright from EXIF.
#include "features/win/features.h"
#include "features/win/featuresres.h"
#include "features/win/winregtree.h"

#include <commctrl.h>

#include "app/framework.h"
#include "app/resource.h"
#include "app/settings_core.h"
#include "features/associations.h"

namespace {

// The program's own path, written into the open commands and icons.
std::string ProgramPath() {
    char path[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    return n > 0 && n < sizeof path ? std::string(path, n) : std::string();
}

LRESULT CALLBACK TypeListProc(HWND list, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR dialog);

class CSettingsDialog : public CDialogBase {
public:
    CSettingsDialog() : CDialogBase(IDD_SETTINGS), state_(LoadAssociationState(tree_)) {}

    uint32_t StartAutoRotate() const { return startAutoRotate_; }
    // A click or Space on a type; moving through the list changes nothing.
    void Toggle(HWND list, LRESULT position) {
        if (position < 0 || static_cast<size_t>(position) >= PictureTypes().size()) return;
        ToggleType(&state_, static_cast<int32_t>(position));
        InvalidateRect(list, nullptr, TRUE);
    }

protected:
    BOOL OnInitDialog() override {
        HWND list = GetDlgItem(Hwnd(), IDC_TYPE_LIST);
        for (const auto& type : PictureTypes()) SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(type.listText));
        SetWindowSubclass(list, TypeListProc, 1, reinterpret_cast<DWORD_PTR>(this));
        CheckDlgButton(Hwnd(), IDC_AUTO_ROTATE, state_.autoRotate ? BST_CHECKED : BST_UNCHECKED);
        return TRUE;
    }
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) override {
        switch (msg) {
        case WM_MEASUREITEM:
            if (wParam != IDC_TYPE_LIST) return false;
            reinterpret_cast<MEASUREITEMSTRUCT*>(lParam)->itemHeight =
                static_cast<UINT>(GetSystemMetrics(SM_CYMENUCHECK) + 2);
            *result = TRUE;
            return true;
        case WM_DRAWITEM:
            if (wParam != IDC_TYPE_LIST) return false;
            DrawEntry(reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
            *result = TRUE;
            return true;
        case WM_COMMAND: return Command(LOWORD(wParam));
        default: return false;
        }
    }

private:
    // A plain check box before the text.
    void DrawEntry(const DRAWITEMSTRUCT* di) {
        if (di->itemID == static_cast<UINT>(-1)) return;
        const int position = static_cast<int>(di->itemID);
        const bool selected = (di->itemState & ODS_SELECTED) != 0;
        FillRect(di->hDC, &di->rcItem, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
        const int box = di->rcItem.bottom - di->rcItem.top - 2;
        RECT check{di->rcItem.left + 1, di->rcItem.top + 1, di->rcItem.left + 1 + box, di->rcItem.top + 1 + box};
        DrawFrameControl(di->hDC, &check, DFC_BUTTON,
                         DFCS_BUTTONCHECK | (TypeChecked(state_, position) ? DFCS_CHECKED : 0));
        RECT text = di->rcItem;
        text.left = check.right + 3;
        SetBkMode(di->hDC, TRANSPARENT);
        SetTextColor(di->hDC, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
        DrawTextA(di->hDC, PictureTypes()[static_cast<size_t>(position)].listText, -1, &text,
                  DT_SINGLELINE | DT_VCENTER | DT_LEFT | DT_NOPREFIX);
    }
    bool Command(UINT id) {
        if (id == IDOK) {
            state_.autoRotate = IsDlgButtonChecked(Hwnd(), IDC_AUTO_ROTATE) == BST_CHECKED ? 1 : 0;
            ApplyAssociationState(tree_, state_, ProgramPath());
            EndDialog(IDOK);
            return true;
        }
        if (id == IDCANCEL) {
            EndDialog(IDCANCEL);
            return true;
        }
        return false;
    }

    VSWinRegTree tree_;
    VSAssociationState state_;
    uint32_t startAutoRotate_ = state_.autoRotate;
};

// The type list as list views with check boxes work: the arrows move,
// Space and a click toggle.
LRESULT CALLBACK TypeListProc(HWND list, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR dialog) {
    auto* self = reinterpret_cast<CSettingsDialog*>(dialog);
    switch (msg) {
    case WM_KEYDOWN:
        if (wParam != VK_SPACE) break;
        self->Toggle(list, SendMessageA(list, LB_GETCURSEL, 0, 0));
        return 0;
    case WM_CHAR:
        if (wParam == ' ') return 0;  // not a search for a type starting with a space
        break;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
        const LRESULT hit = SendMessageA(list, LB_ITEMFROMPOINT, 0, lParam);
        const LRESULT result = DefSubclassProc(list, msg, wParam, lParam);
        if (HIWORD(hit) == 0) self->Toggle(list, LOWORD(hit));
        return result;
    }
    case WM_NCDESTROY:
        RemoveWindowSubclass(list, TypeListProc, 1);
        break;
    default:
        break;
    }
    return DefSubclassProc(list, msg, wParam, lParam);
}

}  // namespace

void SettingsCommand(HWND mainWindow) {
    CSettingsDialog dialog;
    if (dialog.DoModal(mainWindow) != IDOK) return;
    VSWinRegTree tree;
    if (VSSettings(tree).ReadAutoRotate() != dialog.StartAutoRotate()) SendMessageA(mainWindow, UM_RERENDER, 0, 0);
}
