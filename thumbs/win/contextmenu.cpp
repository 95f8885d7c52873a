// Building, drawing and persisting the "Help and Settings" menu.
#include "thumbs/win/contextmenu.h"

#include "app/resource.h"
#include "app/settings_core.h"
#include "browse/folderlist.h"

namespace {

struct DrawnItem {
    UINT id;
    const char* text;  // null for a separator
    int picture;       // index into the menu's pictures, -1 for none
};

const DrawnItem kDrawnItems[] = {
    {ID_MENU_HELP, "Help", 0},          {ID_MENU_SEPARATOR_0, nullptr, -1},
    {ID_MENU_ABOUT, "About Vistrel Viewer", 1}, {ID_MENU_VISIT, "Visit Orvanta", 2},
    {ID_MENU_SEPARATOR_1, nullptr, -1}, {ID_MENU_UPDATE, "Check for updates", 3},
    {ID_MENU_SETTINGS, "Settings", 4},  {ID_MENU_SEPARATOR_2, nullptr, -1},
};
const UINT kPictureIds[5] = {IDB_MENU_HELP, IDB_MENU_ABOUT, IDB_MENU_VISIT, IDB_MENU_UPDATE, IDB_MENU_SETTINGS};

const UINT kItemWidth = 175;
const UINT kItemHeight = 22;
const UINT kSeparatorHeight = 5;

const DrawnItem* Lookup(ULONG_PTR data) {
    return data < sizeof kDrawnItems / sizeof kDrawnItems[0] ? &kDrawnItems[data] : nullptr;
}

}  // namespace

CContextMenu::CContextMenu(VSSettings& settings, VSSortState& sort) : settings_(settings), sort_(sort) {
    menu_ = CreatePopupMenu();
    settings_.ReadSortState(&sort_);
    for (size_t i = 0; i < sizeof kDrawnItems / sizeof kDrawnItems[0]; ++i)
        AppendMenuA(menu_, MF_OWNERDRAW, kDrawnItems[i].id, reinterpret_cast<LPCSTR>(i));
    AppendMenuA(menu_, MF_STRING | MF_CHECKED, kSortName, "Sort by name");
    AppendMenuA(menu_, MF_STRING | MF_CHECKED, kSortDate, "Sort by date");
    AppendMenuA(menu_, MF_STRING | MF_CHECKED, kSortSize, "Sort by size");
    CheckSort(sort_.key);
    for (int i = 0; i < 5; ++i)
        pictures_[i] = static_cast<HBITMAP>(LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(kPictureIds[i]),
                                                       IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
}

CContextMenu::~CContextMenu() {
    settings_.WriteSortState(sort_);
    for (HBITMAP picture : pictures_)
        if (picture) DeleteObject(picture);
    if (menu_) DestroyMenu(menu_);
}

void CContextMenu::CheckSort(uint32_t key) {
    for (UINT id : {kSortSize, kSortName, kSortDate})
        CheckMenuItem(menu_, id, MF_BYCOMMAND | (id == key ? MF_CHECKED : MF_UNCHECKED));
}

void CContextMenu::Show(HWND owner, int x, int y) {
    TrackPopupMenu(menu_, TPM_LEFTALIGN | TPM_VERTICAL, x, y, 0, owner, nullptr);
}

void CContextMenu::Measure(MEASUREITEMSTRUCT* item) const {
    const DrawnItem* drawn = Lookup(item->itemData);
    item->itemWidth = kItemWidth;
    item->itemHeight = drawn && !drawn->text ? kSeparatorHeight : kItemHeight;
}

void CContextMenu::Draw(const DRAWITEMSTRUCT* item) const {
    const DrawnItem* drawn = Lookup(item->itemData);
    if (!drawn) return;
    HDC dc = item->hDC;
    RECT r = item->rcItem;
    // The system's menu colours, as the sort items below are drawn: the
    // hovered item stays readable in every colour scheme.
    const bool selected = drawn->text && (item->itemState & ODS_SELECTED) != 0;
    FillRect(dc, &r, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_MENU));
    if (!drawn->text) {
        r.top += (r.bottom - r.top) / 2 - 1;
        DrawEdge(dc, &r, EDGE_ETCHED, BF_TOP);
        return;
    }
    if (drawn->picture >= 0 && pictures_[drawn->picture]) {
        HDC memory = CreateCompatibleDC(dc);
        HGDIOBJ old = SelectObject(memory, pictures_[drawn->picture]);
        BitBlt(dc, r.left + 1, r.top + 1, 20, 20, memory, 0, 0, SRCCOPY);
        SelectObject(memory, old);
        DeleteDC(memory);
    }
    const int mode = SetBkMode(dc, TRANSPARENT);
    const COLORREF colour = SetTextColor(dc, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_MENUTEXT));
    TextOutA(dc, r.left + 25, r.top + 4, drawn->text, lstrlenA(drawn->text));
    SetTextColor(dc, colour);
    SetBkMode(dc, mode);
}
