// The "Help and Settings" menu: owner-drawn command items with pictures,
// and the three sort items. It owns the persisted sort settings: read when
// the menu is made, written when it goes.
#ifndef VS_THUMBS_WIN_CONTEXTMENU_H
#define VS_THUMBS_WIN_CONTEXTMENU_H

#include <windows.h>

#include <cstdint>

class VSSettings;
struct VSSortState;

class CContextMenu {
public:
    // sort is the panel's sort state, read and written in place.
    CContextMenu(VSSettings& settings, VSSortState& sort);
    ~CContextMenu();
    CContextMenu(const CContextMenu&) = delete;
    CContextMenu& operator=(const CContextMenu&) = delete;

    // At screen point (x, y); the choice arrives at owner as WM_COMMAND.
    void Show(HWND owner, int x, int y);
    // WM_MEASUREITEM and WM_DRAWITEM of the owner for menu items.
    void Measure(MEASUREITEMSTRUCT* item) const;
    void Draw(const DRAWITEMSTRUCT* item) const;
    // Checks the sort item of key, unchecks the other two.
    void CheckSort(uint32_t key);
    HMENU Handle() const { return menu_; }

private:
    VSSettings& settings_;
    VSSortState& sort_;
    HMENU menu_ = nullptr;
    HBITMAP pictures_[5] = {};
};

#endif
