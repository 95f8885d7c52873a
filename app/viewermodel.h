// What the viewer browses and shows: the folder list with its sort, the
// remembered folders, the view mode and the picture on screen. The main
// window owns the one model; commands are given the parts they need.
#ifndef VS_APP_VIEWERMODEL_H
#define VS_APP_VIEWERMODEL_H

#include "browse/folderlist.h"
#include "browse/prefetch.h"

#include <string>

struct VSViewerModel {
    explicit VSViewerModel(VSFileSystem& fs) : list(fs) {}

    bool PictureCurrent() const { return !list.CurrentPath().empty(); }

    FolderList list;
    VSSortState sort;
    std::string initDir;
    std::string saveAsDir;
    bool thumbnailMode = false;
    VSDecodedPicture shown;  // the picture on screen
};

#endif
