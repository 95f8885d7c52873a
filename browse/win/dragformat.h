// The private clipboard format that marks drags started by the viewer
// itself, so that it can refuse its own drops.
#ifndef VS_BROWSE_WIN_DRAGFORMAT_H
#define VS_BROWSE_WIN_DRAGFORMAT_H

#define VS_DRAG_FORMAT_NAME "VSViewer_3BCFE9D1_6D61_4cb6_9D0B_3BB3F643CA82"

#endif
