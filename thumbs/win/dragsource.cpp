// Dragging a thumbnail out of the view: the same drag as the picture's own,
// marked as the viewer's so that its drop target refuses it.
#include "thumbs/win/listctrlex.h"

#include "browse/win/openfiles.h"

void CListCtrlEx::StartDrag(int32_t index) {
    if (!list_ || index < 0) return;
    DragOut(list_->At(index));
}
