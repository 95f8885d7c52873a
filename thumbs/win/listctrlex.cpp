// The thumbnail view and its worker.
#include "thumbs/win/listctrlex.h"

#include "app/framework.h"
#include "app/resource.h"
#include "browse/win/winfs.h"
#include "codec/win/isbitmap.h"
#include "browse/paths.h"
#include "thumbs/thumbnail.h"

namespace {

// Private messages of the subclassed list control, sent by the worker so
// that the image list and the records are only touched on their own thread.
constexpr UINT kMsgAppendImage = WM_APP + 0x40;  // wParam packed area, lParam bitmap; returns index + 1, 0 on failure
constexpr UINT kMsgAttachImage = WM_APP + 0x41;  // wParam record key, lParam image index

const char kCompletionEventName[] = "SortEvent";

struct SortContext {
    const VSThumbBook* book;
    uint32_t key;
    bool ascending;
};

// A thumbnail's area in one word: each side is at most 160.
WPARAM PackArea(const VSThumbArea& a) { return a.x | a.y << 8 | a.width << 16 | static_cast<WPARAM>(a.height) << 24; }
VSThumbArea UnpackArea(WPARAM w) {
    VSThumbArea a;
    a.x = w & 0xFF, a.y = (w >> 8) & 0xFF, a.width = (w >> 16) & 0xFF, a.height = (w >> 24) & 0xFF;
    return a;
}

// The image list draws a thumbnail through a mask made from its picture's
// area: the frame is clear, every pixel of the picture is drawn.
HBITMAP AreaMask(const VSThumbArea& a) {
    const uint32_t rowBytes = (kThumbWidth + 15) / 16 * 2;  // rows of whole words
    std::vector<uint8_t> bits(rowBytes * kThumbHeight, 0xFF);
    for (uint32_t y = a.y; y < a.y + a.height && y < kThumbHeight; ++y)
        for (uint32_t x = a.x; x < a.x + a.width && x < kThumbWidth; ++x)
            bits[y * rowBytes + x / 8] &= static_cast<uint8_t>(~(0x80u >> (x % 8)));
    return CreateBitmap(static_cast<int>(kThumbWidth), static_cast<int>(kThumbHeight), 1, 1, bits.data());
}

// Puts a thumbnail into the image list in place of image replacing, or
// appends it when replacing is -1; returns its index (-1 when appending failed).
int PutThumbnail(HIMAGELIST images, int replacing, HBITMAP bitmap, const VSThumbArea& area) {
    HBITMAP mask = AreaMask(area);
    int index = replacing;
    if (replacing < 0) {
        index = ImageList_Add(images, bitmap, mask);
    } else {
        ImageList_Replace(images, replacing, bitmap, mask);
    }
    if (mask) DeleteObject(mask);
    return index;
}

int CALLBACK CompareItems(LPARAM a, LPARAM b, LPARAM context) {
    const SortContext* c = reinterpret_cast<const SortContext*>(context);
    return CompareFileItems(c->key, c->ascending, c->book->Find(static_cast<uint32_t>(a)),
                            c->book->Find(static_cast<uint32_t>(b)));
}

}  // namespace

struct CListCtrlEx::Worker {
    HWND list = nullptr;
    HANDLE thread = nullptr;
    DWORD threadId = 0;
    HANDLE event = nullptr;
    std::vector<VSThumbJob> jobs;
    bool autoRotate = true;
    // Set with the quit message: a quit posted before the thread had its
    // message queue would otherwise be lost.
    std::atomic<bool> quit{false};
};

CListCtrlEx::~CListCtrlEx() {
    StopWorker();
    WaitForWorkers();
    if (hwnd_ && IsWindow(hwnd_)) DestroyWindow(hwnd_);
    DestroyImageList();
    book_.Release();
}

bool CListCtrlEx::Create(HWND parent) {
    // No tab stop: as the dialog's first one the parked view would take the
    // focus at start-up; the main window focuses it when it is shown.
    hwnd_ = CreateWindowExA(0, WC_LISTVIEWA, "", WS_CHILD | WS_VISIBLE | WS_BORDER | LVS_ICON | LVS_SINGLESEL, 0, 0, 400,
                            800, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kThumbnailViewId)),
                            GetModuleHandleA(nullptr), nullptr);
    if (!hwnd_) return false;
    SetWindowLongPtrA(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    defaultProc_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CListCtrlEx::SubclassProc)));
    return true;
}

LRESULT CALLBACK CListCtrlEx::SubclassProc(HWND wnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    CListCtrlEx* self = reinterpret_cast<CListCtrlEx*>(GetWindowLongPtrA(wnd, GWLP_USERDATA));
    if (!self || !self->defaultProc_) return DefWindowProcA(wnd, msg, wParam, lParam);
    return self->OnMessage(msg, wParam, lParam);
}

LRESULT CListCtrlEx::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_LBUTTONDBLCLK: {
        LVHITTESTINFO hit{};
        hit.pt.x = static_cast<short>(LOWORD(lParam));
        hit.pt.y = static_cast<short>(HIWORD(lParam));
        const int item = static_cast<int>(SendMessageA(hwnd_, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
        if (item >= 0) {
            SetCursor(LoadCursorA(nullptr, IDC_WAIT));
            SendMessageA(GetParent(hwnd_), UM_THUMBNAIL_ACTIVATED, 0, 0);
            SetCursor(LoadCursorA(nullptr, IDC_ARROW));
            SendMessageA(hwnd_, LVM_SETHOTITEM, static_cast<WPARAM>(item), 0);
        }
        break;
    }
    case WM_KEYDOWN:
        if (wParam == VK_UP || wParam == VK_DOWN) {
            // The main window moves the current picture by rows (its
            // LVN_KEYDOWN); the control's own move would fight it.
            NMLVKEYDOWN key{};
            key.hdr.hwndFrom = hwnd_;
            key.hdr.idFrom = kThumbnailViewId;
            key.hdr.code = LVN_KEYDOWN;
            key.wVKey = static_cast<WORD>(wParam);
            SendMessageA(GetParent(hwnd_), WM_NOTIFY, kThumbnailViewId, reinterpret_cast<LPARAM>(&key));
            return 0;
        }
        break;
    case WM_RBUTTONDOWN:
        // The context menu belongs to the main window.
        return 0;
    case kMsgAppendImage: {
        HBITMAP bitmap = reinterpret_cast<HBITMAP>(lParam);
        if (!images_ || !bitmap) return 0;
        const int index = PutThumbnail(images_, -1, bitmap, UnpackArea(wParam));
        return index >= 0 ? index + 1 : 0;
    }
    case kMsgAttachImage: {
        const uint32_t key = static_cast<uint32_t>(wParam);
        CFileItem* record = book_.Find(key);
        const int32_t item = FindItem(key);
        // Records of an earlier fill, or an item deleted meanwhile: nothing to do.
        if (!record || item < 0) return 0;
        record->image = static_cast<int32_t>(lParam);
        SetItemImage(item, record->image);
        RedrawItem(item);
        SetLabel(item, record->path);
        return 1;
    }
    default:
        break;
    }
    return CallWindowProcA(defaultProc_, hwnd_, msg, wParam, lParam);
}

// ---- items ------------------------------------------------------------------

int32_t CListCtrlEx::ItemCount() const {
    return hwnd_ ? static_cast<int32_t>(SendMessageA(hwnd_, LVM_GETITEMCOUNT, 0, 0)) : 0;
}

std::string CListCtrlEx::PathAt(int32_t index) const {
    const CFileItem* record = book_.Find(KeyOf(index));
    return record ? record->path : std::string();
}

int32_t CListCtrlEx::FindItem(uint32_t key) const {
    LVFINDINFOA find{};
    find.flags = LVFI_PARAM;
    find.lParam = static_cast<LPARAM>(key);
    return static_cast<int32_t>(SendMessageA(hwnd_, LVM_FINDITEMA, static_cast<WPARAM>(-1),
                                             reinterpret_cast<LPARAM>(&find)));
}

uint32_t CListCtrlEx::KeyOf(int32_t index) const {
    LVITEMA lv{};
    lv.mask = LVIF_PARAM;
    lv.iItem = index;
    if (!SendMessageA(hwnd_, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&lv))) return 0;
    return static_cast<uint32_t>(lv.lParam);
}

void CListCtrlEx::InsertItem(int32_t at, const std::string& path, int32_t image, uint32_t key) {
    std::string label = FileName(path);
    LVITEMA lv{};
    lv.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
    lv.iItem = at;
    lv.pszText = &label[0];
    lv.iImage = image;
    lv.lParam = static_cast<LPARAM>(key);
    SendMessageA(hwnd_, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&lv));
}

void CListCtrlEx::RedrawItem(int32_t index) {
    RECT bounds{};
    bounds.left = LVIR_BOUNDS;
    if (SendMessageA(hwnd_, LVM_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&bounds)))
        InvalidateRect(hwnd_, &bounds, TRUE);
}

void CListCtrlEx::SetLabel(int32_t index, const std::string& path) {
    std::string label = FileName(path);
    LVITEMA lv{};
    lv.iSubItem = 0;
    lv.pszText = &label[0];
    SendMessageA(hwnd_, LVM_SETITEMTEXTA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&lv));
}

bool CListCtrlEx::ReadStatus(const std::string& path, VSFileStatus* status) {
    VSWinFileSystem fs;
    VSFileStatus read{};
    std::string error;
    if (!fs.Status(path, &read, &error)) return false;
    *status = read;
    return true;
}

void CListCtrlEx::DestroyImageList() {
    if (hwnd_) SendMessageA(hwnd_, LVM_SETIMAGELIST, LVSIL_NORMAL, 0);
    if (images_) ImageList_Destroy(images_);
    images_ = nullptr;
}

void CListCtrlEx::CreateImageList(int32_t count) {
    images_ = ImageList_Create(static_cast<int>(kThumbWidth), static_cast<int>(kThumbHeight), ILC_COLOR32 | ILC_MASK,
                               count > 0 ? count : 1, 1);
    SendMessageA(hwnd_, LVM_SETIMAGELIST, LVSIL_NORMAL, reinterpret_cast<LPARAM>(images_));
}

void CListCtrlEx::DeleteAllItems() {
    if (hwnd_) SendMessageA(hwnd_, LVM_DELETEALLITEMS, 0, 0);
}

void CListCtrlEx::DeleteItem(int32_t index) {
    if (hwnd_ && index >= 0) SendMessageA(hwnd_, LVM_DELETEITEM, static_cast<WPARAM>(index), 0);
}

// ---- operations -------------------------------------------------------------

void CListCtrlEx::Populate(bool autoRotate) {
    autoRotate_ = autoRotate;
    if (!hwnd_ || !list_) return;
    // Records and the image list are only replaced once no worker can
    // still be using them; a fill asked for during that wait is this one.
    if (populating_) return;
    populating_ = true;
    StopWorker();
    WaitForWorkers();
    populating_ = false;

    const std::vector<std::string> paths = list_->Entries();
    DestroyImageList();
    DeleteAllItems();
    book_.Release();
    CreateImageList(static_cast<int32_t>(paths.size()));

    Worker* worker = new Worker;
    worker->list = hwnd_;
    worker->autoRotate = autoRotate;
    // Drawn once when filled: a view that redraws on every insert takes
    // seconds for a few hundred items.
    SendMessageA(hwnd_, WM_SETREDRAW, FALSE, 0);
    SendMessageA(hwnd_, LVM_SETITEMCOUNT, static_cast<WPARAM>(paths.size()), 0);
    for (size_t i = 0; i < paths.size(); ++i) {
        // The list's sort has read the statuses already, off this thread.
        VSFileStatus status{0, 0};
        if (!list_->KnownStatus(paths[i], &status)) ReadStatus(paths[i], &status);
        const uint32_t key = book_.Add(status.created, status.size, paths[i]);
        if (!key) break;
        // No image until the worker has made this file's own thumbnail.
        InsertItem(static_cast<int32_t>(i), paths[i], I_IMAGENONE, key);
        worker->jobs.push_back({key, paths[i]});
    }
    SendMessageA(hwnd_, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(hwnd_, nullptr, TRUE);
    // The event exists before the thread does, so no waiter can miss it.
    // Manual reset: every waiter passes once the worker has ended.
    worker->event = CreateEventA(nullptr, TRUE, FALSE, kCompletionEventName);
    // A waiter may still hold the last run's object under this name.
    if (worker->event) ResetEvent(worker->event);
    worker->thread = CreateThread(nullptr, 0, &CListCtrlEx::GenerateThumbnails, worker, 0, &worker->threadId);
    // The picture the user asks for comes first.
    if (worker->thread) SetThreadPriority(worker->thread, THREAD_PRIORITY_BELOW_NORMAL);
    if (!worker->thread) {
        if (worker->event) {
            SetEvent(worker->event);
            CloseHandle(worker->event);
        }
        delete worker;
        return;
    }
    worker_ = worker;
}

int32_t CListCtrlEx::AddFile(const std::string& path) {
    if (!hwnd_) return -1;
    HDC dc = GetDC(hwnd_);
    VSWinLoaderHost host(GetParent(hwnd_));
    VSThumbArea area;
    HBITMAP bitmap = MakeThumbnail(path, autoRotate_, dc, host, &area);
    ReleaseDC(hwnd_, dc);
    if (!bitmap) return -1;
    if (!images_) CreateImageList(1);
    const int image = PutThumbnail(images_, -1, bitmap, area);
    DeleteObject(bitmap);
    if (image < 0) return -1;
    VSFileStatus status{0, 0};
    ReadStatus(path, &status);
    const uint32_t key = book_.Add(status.created, status.size, path);
    if (!key) return -1;
    book_.Find(key)->image = image;
    // Items carry their own image index, so the new item simply goes last.
    const int32_t at = ItemCount();
    InsertItem(at, path, image, key);
    return FindItem(key);
}

void CListCtrlEx::RefreshThumbnail(int32_t index, const std::string& path) {
    if (!hwnd_ || !images_ || index < 0 || index >= ItemCount()) return;
    // Made the way the worker makes them: a file changed in place has no
    // shell thumbnail under most systems.
    HDC dc = GetDC(hwnd_);
    VSWinLoaderHost host(GetParent(hwnd_));
    VSThumbArea area;
    HBITMAP bitmap = MakeThumbnail(path, autoRotate_, dc, host, &area);
    ReleaseDC(hwnd_, dc);
    if (!bitmap) return;
    if (CFileItem* record = book_.Find(KeyOf(index))) {
        RereadStatus(record, path);
        const bool had = record->image >= 0;
        record->image = PutThumbnail(images_, record->image, bitmap, area);
        if (!had) SetItemImage(index, record->image);
    }
    RedrawItem(index);
    DeleteObject(bitmap);
}

void CListCtrlEx::UpdateItem(int32_t index, const std::string& path) {
    if (!hwnd_ || index < 0 || index >= ItemCount()) return;
    SetLabel(index, path);
    CFileItem* record = book_.Find(KeyOf(index));
    if (record && RereadStatus(record, path)) record->path = path.substr(0, kFileItemPathMax);
}

bool CListCtrlEx::RereadStatus(CFileItem* record, const std::string& path) {
    VSFileStatus status{0, 0};
    // A status that cannot be read leaves the record as it was.
    if (!ReadStatus(path, &status)) return false;
    record->created = status.created;
    record->size = status.size;
    return true;
}

void CListCtrlEx::SetItemImage(int32_t index, int32_t image) {
    LVITEMA lv{};
    lv.mask = LVIF_IMAGE;
    lv.iItem = index;
    lv.iImage = image;
    SendMessageA(hwnd_, LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&lv));
}

void CListCtrlEx::SortByKey(uint32_t key, uint16_t ascending) {
    if (!hwnd_) return;
    SortContext context{&book_, key, ascending != 0};
    SendMessageA(hwnd_, LVM_SORTITEMS, reinterpret_cast<WPARAM>(&context), reinterpret_cast<LPARAM>(&CompareItems));
}

void CListCtrlEx::SelectItem(int32_t index) {
    if (!hwnd_ || index < 0) return;
    LVITEMA lv{};
    lv.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    lv.state = LVIS_SELECTED;
    SendMessageA(hwnd_, LVM_SETITEMSTATE, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&lv));
    ScrollIntoView(index, false);
}

void CListCtrlEx::ScrollIntoView(int32_t index, bool partialOk) {
    if (hwnd_ && index >= 0) SendMessageA(hwnd_, LVM_ENSUREVISIBLE, static_cast<WPARAM>(index), partialOk ? TRUE : FALSE);
}

int32_t CListCtrlEx::ItemsPerRow(int32_t index) const {
    (void)index;
    // The control lays its icons out at its horizontal spacing; an item's
    // own bounds are narrower than that and would count too many per row.
    RECT client{};
    GetClientRect(hwnd_, &client);
    const LONG spacing = LOWORD(SendMessageA(hwnd_, LVM_GETITEMSPACING, FALSE, 0));
    const LONG perRow = spacing > 0 ? client.right / spacing : 1;
    return perRow > 0 ? static_cast<int32_t>(perRow) : 1;
}

// ---- the worker -------------------------------------------------------------

void CListCtrlEx::StopWorker() {
    // Workers that have ended meanwhile are let go.
    for (size_t i = 0; i < stopped_.size();) {
        if (WaitForSingleObject(stopped_[i]->thread, 0) == WAIT_OBJECT_0) {
            CloseHandle(stopped_[i]->thread);
            delete stopped_[i];
            stopped_.erase(stopped_.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
            ++i;
        }
    }
    if (!worker_) return;
    worker_->quit = true;
    PostThreadMessageA(worker_->threadId, WM_QUIT, 0, 0);
    stopped_.push_back(worker_);
    worker_ = nullptr;
}

void CListCtrlEx::WaitForWorkers() {
    std::vector<Worker*> waiting;
    waiting.swap(stopped_);
    if (worker_) waiting.push_back(worker_);
    worker_ = nullptr;
    // The workers send to the view while they end: keep dispatching.
    for (Worker* w : waiting) {
        WaitDispatching(w->thread);
        CloseHandle(w->thread);
        delete w;
    }
}

DWORD WINAPI CListCtrlEx::GenerateThumbnails(LPVOID param) {
    Worker* w = static_cast<Worker*>(param);
    MSG msg;
    // Gives the thread its message queue for the quit message.
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
    HDC dc = GetDC(w->list);
    VSThumbPassHooks hooks;
    hooks.quit = [w] {
        if (w->quit) return true;
        MSG m;
        if (!PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) return false;
        if (m.message != WM_QUIT) return false;
        TranslateMessage(&m);
        DispatchMessageA(&m);
        return true;
    };
    QuietLoaderHost host;
    hooks.makeAndAppend = [w, dc, &host](const std::string& path) -> int32_t {
        VSThumbArea area;
        HBITMAP bitmap = MakeThumbnail(path, w->autoRotate, dc, host, &area);
        if (!bitmap) return -1;
        const LRESULT r = SendMessageA(w->list, kMsgAppendImage, PackArea(area), reinterpret_cast<LPARAM>(bitmap));
        DeleteObject(bitmap);
        return r > 0 ? static_cast<int32_t>(r - 1) : -1;
    };
    hooks.attach = [w](uint32_t key, int32_t image) {
        SendMessageA(w->list, kMsgAttachImage, static_cast<WPARAM>(key), static_cast<LPARAM>(image));
    };
    RunThumbnailPass(w->jobs, hooks);
    ReleaseDC(w->list, dc);
    if (w->event) {
        SetEvent(w->event);
        CloseHandle(w->event);
    }
    return 0;
}

HBITMAP CListCtrlEx::MakeThumbnail(const std::string& path, bool autoRotate, HDC dc, VSLoaderHost& host,
                                   VSThumbArea* area) {
    *area = VSThumbArea{};
    if (HBITMAP shell = GetShellThumbnail(path, dc)) {
        uint32_t w = 0, h = 0;
        if (IS40_GetHBITMAPDimensions(shell, &w, &h) && w == kThumbWidth && h == kThumbHeight) return shell;
        // Any other size (the shell's portrait 120 x 160 above all) is framed
        // again: the image list takes 160 x 120 only.
        std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3);
        VSThumbCanvas canvas;
        const bool ok = w && h && IS40_HBITMAPToRGB(shell, dc, nullptr, rgb.data()) &&
                        FitThumbnail(rgb.data(), w, h, w * 3, kBackgroundColour, &canvas, area);
        DeleteObject(shell);
        if (ok) return IS40_RGBToHBITMAP(canvas.data(), kThumbWidth, kThumbHeight, kThumbStride, nullptr, dc);
    }
    VSThumbCanvas canvas;
    if (FileThumbnail(path, autoRotate, host, &canvas, area) == kThumbNone) return nullptr;
    return IS40_RGBToHBITMAP(canvas.data(), kThumbWidth, kThumbHeight, kThumbStride, nullptr, dc);
}

bool CListCtrlEx::OnNotify(const NMHDR* header, LRESULT* result) {
    if (!header || header->hwndFrom != hwnd_ || header->code != LVN_BEGINDRAG) return false;
    StartDrag(reinterpret_cast<const NMLISTVIEW*>(header)->iItem);
    *result = 0;
    return true;
}
