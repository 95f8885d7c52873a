// The folder file list: the ordered full paths of the pictures of one
// folder with one current entry, its navigation, deletion and sort orders.
//
// The list is shared between the user-interface thread and the sort
// worker. One mutex guards the entries, the current index and the current
// path together; every reader gets a copy taken under it, so nobody sees a
// list in the middle of its replacement. No call into the file system or a
// callback is made while the mutex is held by a sort's optimistic pass, and
// callbacks are never called with it held.
//
// Invariant: an empty list has current index -1; a non-empty one has a
// current index inside it. The current path may name a file that is not in
// the list (an unlisted path handed over), or be empty (nothing shown).
#ifndef VS_BROWSE_FOLDERLIST_H
#define VS_BROWSE_FOLDERLIST_H

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

struct VSDirEntry {
    std::string name;
    bool isFolder;
};

struct VSFileStatus {
    int64_t created;  // whole seconds; any monotonic seconds value will do
    uint32_t size;    // low 32 bits of the size in bytes
    int64_t written = 0;  // the last write, in the file system's own ticks
};

class VSFileSystem {
public:
    virtual ~VSFileSystem();
    // The entries of folder in file-system order, without "." and "..";
    // false when the folder cannot be enumerated.
    virtual bool List(const std::string& folder, std::vector<VSDirEntry>* entries) = 0;
    // Opens the file for reading (shared) and takes its status; on failure
    // errorText gets the system's text for the error.
    virtual bool Status(const std::string& path, VSFileStatus* status, std::string* errorText) = 0;
    virtual bool Remove(const std::string& path) = 0;
};

enum : uint32_t { kSortName = 17, kSortDate = 18, kSortSize = 19 };
inline bool IsSortKey(uint32_t key) { return key == kSortName || key == kSortDate || key == kSortSize; }

// The sort state of the panel: key and direction.
struct VSSortState {
    uint32_t key = kSortName;
    bool ascending = true;
    // A sort command: the key already in effect flips the direction,
    // another key sorts ascending.
    void Command(uint32_t key);
};

// One file's status record while sorting.
struct VSSortRecord {
    int64_t created;
    uint32_t size;
    std::string path;
};

// Whether a goes before b under the key and direction. The date orders
// hold for equal times too, so equal dates do not keep their order.
bool SortPredicate(uint32_t key, bool ascending, const VSSortRecord& a, const VSSortRecord& b);

// Sorts records as a bottom-up list merge sort does: a merge takes the next
// element of the later run before that of the earlier run exactly when
// SortPredicate(later, earlier) holds. Written out rather than left to
// std::list::sort because the date predicates are not strict orders.
void SortRecords(std::vector<VSSortRecord>* records, uint32_t key, bool ascending);

// Entries, current index and current path taken together.
struct VSListSnapshot {
    std::vector<std::string> entries;
    int32_t index = -1;
    std::string path;
};

class FolderList {
public:
    explicit FolderList(VSFileSystem& fs);
    FolderList(const FolderList&) = delete;
    FolderList& operator=(const FolderList&) = delete;

    // Rebuilds the list from the folder of a picture path; the first entry
    // equal to path byte for byte becomes current, else the first entry.
    // The current path becomes that entry (empty for an empty folder).
    void Build(const std::string& path);
    // Rebuilds the list from a folder text (a "\" is added when missing) and
    // makes the first entry current; false, and nothing changed, when the
    // folder holds no picture.
    bool BuildFromFolder(const std::string& folder);
    // Replaces the list by the given paths, taken as they are, and makes the
    // first current; false, and nothing changed, when paths is empty.
    bool Assign(const std::vector<std::string>& paths);
    // A picture of the folder already listed: when the folder holds exactly
    // the listed pictures (in any order) and path is one of them (ignoring
    // case), that entry becomes current, the list and its generation stay,
    // and true is returned; otherwise nothing changes.
    bool SelectListed(const std::string& path);
    // Empties the list; the current path stays.
    void Clear();

    // Move the current entry (Next and Previous wrap around) and set the
    // current path to it; nothing happens on an empty list.
    void Next();
    void Previous();
    void First();
    void Last();

    // After the user agreed: removes the current file from disk (a refused
    // removal is ignored) and its entry from the list. Returns the index of
    // the removed entry, or -1 when nothing was removed from the list (an
    // empty list, no current path, or a current path that is not listed;
    // in the last case the file is still removed). Afterwards the current
    // path is the new current entry, or empty when the list is empty.
    int32_t DeleteCurrent();

    // Reads every entry's status, drops the unreadable ones (reporting each
    // to onUnreadable, after the list has been updated and without the lock
    // held), sorts the rest, and makes the first entry equal to the current
    // path current; when none is, the index stays (moved into the list if it
    // shrank).
    void SortList(uint32_t key, bool ascending,
                  const std::function<void(const std::string&, const std::string&)>& onUnreadable);

    // Sets the current index and path; an index outside the list leaves the
    // index as it is (the path is still taken).
    void SetCurrent(int32_t index, const std::string& path);
    // Adds a path at the end; in an empty list it becomes the current entry
    // (the current path is not changed).
    void Append(const std::string& path);
    // The current entry and the current path become path; with an empty list
    // only the current path does.
    void ReplaceCurrent(const std::string& path);

    int32_t Count() const;
    // Changes with every change of the entries or their order.
    uint64_t Generation() const;
    int32_t CurrentIndex() const;
    std::string CurrentPath() const;
    // "" outside the list.
    std::string At(int32_t index) const;
    std::vector<std::string> Entries() const;
    bool Empty() const;
    VSListSnapshot Snapshot() const;
    // The first entry equal to path (ignoring ASCII case on request); -1.
    int32_t IndexOf(const std::string& path, bool ignoreCase) const;
    // The status the last sort read for path; false when it read none.
    bool KnownStatus(const std::string& path, VSFileStatus* status) const;

private:
    // Lists folder's pictures as folder + name.
    std::vector<std::string> ListPictures(const std::string& folder);
    // Replaces the entries; caller holds the lock.
    void ReplaceLocked(std::vector<std::string> entries, int32_t index);
    void MoveLocked(int32_t index);
    // IndexOf for a caller holding the lock.
    int32_t IndexLocked(const std::string& path, bool ignoreCase) const;
    // Reads the statuses of entries; unreadable ones go to unreadable.
    std::vector<VSSortRecord> ReadRecords(const std::vector<std::string>& entries,
                                          std::vector<std::pair<std::string, std::string>>* unreadable);
    void CommitSortLocked(const std::vector<VSSortRecord>& records);

    VSFileSystem& fs_;
    mutable std::mutex mutex_;
    std::vector<std::string> entries_;
    int32_t index_ = -1;
    std::string path_;
    // Counts changes of the entries, so that a sort can tell whether the
    // list it read is still the list it would replace.
    uint64_t generation_ = 0;
    // The statuses the last sort read, so that the thumbnail view need
    // not read them again on the window's thread.
    std::unordered_map<std::string, VSFileStatus> known_;
};

#endif
