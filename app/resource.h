// Resource identifiers of the viewer.
#ifndef VS_RESOURCE_H
#define VS_RESOURCE_H

#define IDD_MAIN 102
#define IDD_TOOLBAR_PANEL 104
#define IDI_APP 128
#define IDR_ACCELERATORS 137
#define IDC_PICTURE 1000

// Toolbar bitmap strips, the editor placeholders and the menu pictures.
#define IDB_OPEN 139
#define IDB_PREVIOUS 160
#define IDB_NEXT 161
#define IDB_SETTINGS 162
#define IDB_UPDATE 163
#define IDB_BANNER 164
#define IDB_EDITOR_PLACEHOLDER_0 165
#define IDB_SEPARATOR 172
#define IDB_MENU_ABOUT 185
#define IDB_MENU_HELP 186
#define IDB_MENU_SETTINGS 187
#define IDB_MENU_UPDATE 188
#define IDB_MENU_VISIT 189
#define IDB_FULL_SCREEN 195
#define IDB_VIEW 196
#define IDB_SAVE_AS 197
#define IDB_OPEN_WITH 198
#define IDC_STATUS_BAR 0xE801

// String table.
#define IDS_SETTINGS_KEY 1
#define IDS_POSITION_X 2
#define IDS_POSITION_Y 3
#define IDS_WND_WIDTH 4
#define IDS_WND_HEIGHT 5
#define IDS_MAXIMISED 6
#define IDS_INIT_DIR 7
#define IDS_CANNOT_READ 8
#define IDS_UNRECOGNIZED 9
#define IDS_SAVE_AS_DIR 10
#define IDS_PRODUCT_PAGE 11
#define IDS_HOME_PAGE 12
#define IDS_VERSION 13
#define IDS_HELP_PAGE 14
#define IDS_BUILD 15
#define IDS_FAMILY_PAGE 16
#define IDS_EXTENSION 17
#define IDS_OLD_REG_COPIED 18
#define IDS_UPDATE_HOST 19
#define IDS_PANE_NAME 20
#define IDS_PANE_DIMENSIONS 21
#define IDS_PANE_FILE_SIZE 22
#define IDS_EDITOR_TOO_OLD 23
#define IDS_EDITOR_VERSION 24
#define IDS_EDITOR_BUILD 25
#define IDS_VENDOR_KEY 26
#define IDS_AUTO_ROTATE 27
#define IDS_APP_NAME 28
#define IDS_CAPTION_MARK 29
#define IDS_MUTEX_NAME 30
#define IDS_SORT_TYPE 31
#define IDS_SORT_ORDER 32
#define IDS_PANE_SORT 33

// Editor function commands (accelerators Ctrl+T ... Ctrl+C).
#define ID_EDITOR_FUNCTION_0 32771
#define ID_EDITOR_FUNCTION_6 32777
// Context menu items (sent to the toolbar panel); the sort items are the
// sort keys 17, 18 and 19.
#define ID_MENU_SEPARATOR_0 100
#define ID_MENU_SEPARATOR_1 101
#define ID_MENU_SEPARATOR_2 102
#define ID_MENU_HELP 114
#define ID_MENU_ABOUT 115
#define ID_MENU_VISIT 116
#define ID_MENU_UPDATE 117
#define ID_MENU_SETTINGS 118

// Commands the panel hands to the main window.
#define ID_OPEN_COMMAND 32790

// Messages of the toolbar panel: a button was clicked (posted, wParam the
// identifier); the pointer is over a button (sent, wParam 1 for the banner).
#define UM_BUTTON_CLICKED (WM_USER + 10)
#define UM_BUTTON_HOVER (WM_USER + 12)

// Messages of the main window.
#define UM_SHOW_FILE (WM_USER + 11)
#define UM_SORT_DONE (WM_USER + 12)
#define UM_SHOW_AT (WM_USER + 13)
#define UM_RERENDER (WM_USER + 14)
#define UM_SHOW_THUMBNAILS (WM_USER + 15)
#define UM_FILE_CHANGED (WM_USER + 16)
#define UM_SET_VIEW (WM_USER + 17)
#define UM_THUMBNAIL_ACTIVATED (WM_USER + 18)
#define UM_CLEAR_THUMBNAILS (WM_USER + 19)
#define UM_STOP_THUMBNAILS (WM_USER + 20)
// Window properties of the main window: the serial of the last view
// painted (a picture shown, a zoom or pan), the performance-counter time
// its paint ended, and 1 when it was drawn from the picture at its real
// size, so that the answer to a key can be timed from outside.
#define VS_PROP_PAINTED "VistrelPainted"
#define VS_PROP_PAINT_TIME "VistrelPaintTime"
#define VS_PROP_PAINT_FULL "VistrelPaintFull"

// Files dropped by an OLE source (sent; wParam 1, lParam the
// std::vector<std::string> of their paths).
#define UM_FILES_DROPPED (WM_USER + 21)
// The full-size decode of the shown picture has finished (posted).
#define UM_FULL_DECODED (WM_USER + 22)

#endif
