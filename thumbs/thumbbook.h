// The thumbnail view's records and their bookkeeping, free of the window
// system: one CFileItem per item, reached through a key that the list items
// carry, the sort comparison of the view, the rebuild filter, and the
// worker's pass over the files.
//
// Items carry a record key, not a pointer: a key of records already
// released finds nothing, so a stale item can never reach freed memory.
// Every record carries the image list index of its own thumbnail (-1 while
// it has none), so a file without a thumbnail leaves later images where
// they belong.
#ifndef VS_THUMBS_THUMBBOOK_H
#define VS_THUMBS_THUMBBOOK_H

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct CFileItem {
    int64_t created = 0;  // creation time, whole seconds
    uint64_t size = 0;    // bytes
    std::string path;     // full path, at most 260 characters
    int32_t image = -1;   // image list index of its thumbnail, -1 for none
};

constexpr uint32_t kFileItemPathMax = 260;

class VSThumbBook {
public:
    static constexpr uint32_t kBookCapacity = (1u << 20) - 1;

    // A new record and its key, never 0; 0 and no record when the book is
    // full (kBookCapacity). The path is cut to 260 characters. Keys are 32
    // bits so that they fit an item parameter on every platform.
    uint32_t Add(int64_t created, uint64_t size, const std::string& path);
    // Null for 0, an unknown key or a key of released records.
    CFileItem* Find(uint32_t key);
    const CFileItem* Find(uint32_t key) const;
    // Releases every record; their keys find nothing from now on.
    void Release();
    uint32_t Count() const { return static_cast<uint32_t>(records_.size()); }

private:
    uint32_t generation_ = 1;  // 12 bits, never 0
    std::vector<std::unique_ptr<CFileItem>> records_;
};

// The view's order of two records under sort key 17 (name: full paths,
// ignoring case), 18 (creation time) or 19 (the low 32 bits of the sizes,
// their difference taken as a signed 32-bit number); other keys and a
// missing record compare equal. Descending exchanges the operands.
int32_t CompareFileItems(uint32_t key, bool ascending, const CFileItem* a, const CFileItem* b);

// One file of the worker's pass: the record's key and its path, copied so
// that the pass never reads the folder list or a record.
struct VSThumbJob {
    uint32_t key;
    std::string path;
};

// What the pass needs from the view.
struct VSThumbPassHooks {
    // True when the pass must end before the next file.
    std::function<bool()> quit;
    // Makes the file's thumbnail and appends it to the image list: its
    // index, or -1 when the file gives none (nothing appended then).
    std::function<int32_t(const std::string& path)> makeAndAppend;
    // Tells the view that the record's thumbnail is image index.
    std::function<void(uint32_t key, int32_t image)> attach;
};

// Goes through the jobs in order; returns how many files were handled.
uint32_t RunThumbnailPass(const std::vector<VSThumbJob>& jobs, const VSThumbPassHooks& hooks);

#endif
