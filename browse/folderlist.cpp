// The folder file list and its sort orders.
#include "browse/folderlist.h"

#include "browse/paths.h"

#include <algorithm>
#include <iterator>
#include <list>

VSFileSystem::~VSFileSystem() = default;

// ---------------------------------------------------------------- sorting

void VSSortState::Command(uint32_t commandKey) {
    ascending = commandKey == key ? !ascending : true;
    key = commandKey;
}

bool SortPredicate(uint32_t key, bool ascending, const VSSortRecord& a, const VSSortRecord& b) {
    switch (key) {
        case kSortName: {
            const int order = CompareNoCase(a.path, b.path);
            return ascending ? order < 0 : order > 0;
        }
        case kSortSize:
            return ascending ? a.size < b.size : a.size > b.size;
        case kSortDate:
            return ascending ? a.created <= b.created : a.created >= b.created;
        default:
            // An unknown key keeps the order.
            return false;
    }
}

namespace {

using RecordList = std::list<VSSortRecord>;

// Merges later into earlier: an element of later goes first exactly when
// the predicate holds for (later's next, earlier's next).
template <typename Before>
void MergeRuns(RecordList& earlier, RecordList& later, const Before& before) {
    RecordList::iterator first = earlier.begin();
    while (first != earlier.end() && !later.empty()) {
        if (before(later.front(), *first)) {
            earlier.splice(first, later, later.begin());
        } else {
            ++first;
        }
    }
    earlier.splice(earlier.end(), later);
}

}  // namespace

void SortRecords(std::vector<VSSortRecord>* records, uint32_t key, bool ascending) {
    if (records->size() < 2) return;
    const auto before = [key, ascending](const VSSortRecord& a, const VSSortRecord& b) {
        return SortPredicate(key, ascending, a, b);
    };
    RecordList input(std::make_move_iterator(records->begin()), std::make_move_iterator(records->end()));
    // runs[i] is empty or holds 2^i elements; a higher run holds earlier ones.
    RecordList carry;
    RecordList runs[64];
    size_t fill = 0;
    do {
        carry.splice(carry.begin(), input, input.begin());
        size_t counter = 0;
        for (; counter != fill && !runs[counter].empty(); ++counter) {
            MergeRuns(runs[counter], carry, before);
            carry.swap(runs[counter]);
        }
        carry.swap(runs[counter]);
        if (counter == fill) ++fill;
    } while (!input.empty());
    for (size_t counter = 1; counter < fill; ++counter) MergeRuns(runs[counter], runs[counter - 1], before);
    records->assign(std::make_move_iterator(runs[fill - 1].begin()),
                    std::make_move_iterator(runs[fill - 1].end()));
}

// ---------------------------------------------------------------- FolderList

namespace {

// Sort passes that read the file statuses without holding the lock; when
// the list keeps changing under them, the last pass holds it.
constexpr int kOptimisticSortPasses = 3;

}  // namespace

FolderList::FolderList(VSFileSystem& fs) : fs_(fs) {}

std::vector<std::string> FolderList::ListPictures(const std::string& folder) {
    std::vector<VSDirEntry> found;
    std::vector<std::string> pictures;
    if (!fs_.List(folder, &found)) return pictures;
    for (const VSDirEntry& entry : found) {
        // Skipped by name, not by position: a root folder has no "." entry.
        if (entry.name.empty() || entry.name == "." || entry.name == "..") continue;
        // A folder named trip.jpg is not a picture.
        if (entry.isFolder) continue;
        if (!IsSupportedPicture(entry.name)) continue;
        pictures.push_back(folder + entry.name);
    }
    return pictures;
}

void FolderList::ReplaceLocked(std::vector<std::string> entries, int32_t index) {
    entries_ = std::move(entries);
    ++generation_;
    if (entries_.empty()) {
        index_ = -1;
    } else if (index < 0 || index >= static_cast<int32_t>(entries_.size())) {
        index_ = 0;
    } else {
        index_ = index;
    }
}

void FolderList::MoveLocked(int32_t index) {
    index_ = index;
    path_ = entries_[static_cast<size_t>(index)];
}

void FolderList::Build(const std::string& path) {
    std::vector<std::string> pictures = ListPictures(Folder(path));
    int32_t index = 0;
    // Windows names ignore case: "D.TIF" is the listed "d.tif".
    for (size_t i = 0; i < pictures.size(); ++i) {
        if (CompareNoCase(pictures[i], path) == 0) {
            index = static_cast<int32_t>(i);
            break;
        }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    ReplaceLocked(std::move(pictures), index);
    if (entries_.empty()) {
        path_.clear();
    } else {
        path_ = entries_[static_cast<size_t>(index_)];
    }
}

bool FolderList::SelectListed(const std::string& path) {
    const std::string folder = Folder(path);
    {
        // Another folder is not listed again here: its rebuild lists it.
        std::lock_guard<std::mutex> lock(mutex_);
        if (entries_.empty() || CompareNoCase(Folder(entries_.front()), folder) != 0) return false;
    }
    std::vector<std::string> pictures = ListPictures(folder);
    std::lock_guard<std::mutex> lock(mutex_);
    if (pictures.empty() || pictures.size() != entries_.size()) return false;
    std::vector<std::string> listed(entries_);
    std::sort(pictures.begin(), pictures.end());
    std::sort(listed.begin(), listed.end());
    if (pictures != listed) return false;
    const int32_t index = IndexLocked(path, true);
    if (index < 0) return false;
    MoveLocked(index);
    return true;
}

bool FolderList::BuildFromFolder(const std::string& folder) {
    std::string prefix(folder);
    if (!prefix.empty() && prefix.back() != '\\') prefix += '\\';
    std::vector<std::string> pictures = ListPictures(prefix);
    if (pictures.empty()) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    ReplaceLocked(std::move(pictures), 0);
    path_ = entries_.front();
    return true;
}

bool FolderList::Assign(const std::vector<std::string>& paths) {
    if (paths.empty()) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    ReplaceLocked(paths, 0);
    path_ = entries_.front();
    return true;
}

void FolderList::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    ReplaceLocked({}, -1);
}

void FolderList::Next() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (entries_.empty()) return;
    const int32_t next = index_ + 1;
    MoveLocked(next >= static_cast<int32_t>(entries_.size()) ? 0 : next);
}

void FolderList::Previous() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (entries_.empty()) return;
    const int32_t previous = index_ - 1;
    MoveLocked(previous < 0 ? static_cast<int32_t>(entries_.size()) - 1 : previous);
}

void FolderList::First() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (entries_.empty()) return;
    MoveLocked(0);
}

void FolderList::Last() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (entries_.empty()) return;
    MoveLocked(static_cast<int32_t>(entries_.size()) - 1);
}

int32_t FolderList::DeleteCurrent() {
    std::string target;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (entries_.empty() || path_.empty()) return -1;
        target = path_;
    }
    // The file system is not called with the lock held; a refused
    // removal still takes the entry out of the list.
    fs_.Remove(target);

    std::lock_guard<std::mutex> lock(mutex_);
    // A sort may have moved the entry meanwhile, so it is found again.
    int32_t position = -1;
    if (index_ >= 0 && index_ < static_cast<int32_t>(entries_.size()) &&
        entries_[static_cast<size_t>(index_)] == target) {
        position = index_;
    } else {
        for (size_t i = 0; i < entries_.size(); ++i) {
            if (entries_[i] == target) {
                position = static_cast<int32_t>(i);
                break;
            }
        }
    }
    if (position >= 0) {
        entries_.erase(entries_.begin() + position);
        ++generation_;
        index_ = position;
    }
    if (entries_.empty()) {
        index_ = -1;
        path_.clear();
        return position;
    }
    if (index_ >= static_cast<int32_t>(entries_.size())) index_ = static_cast<int32_t>(entries_.size()) - 1;
    if (index_ < 0) index_ = 0;
    // The shown file is gone either way.
    if (path_ == target) path_ = entries_[static_cast<size_t>(index_)];
    return position;
}

std::vector<VSSortRecord> FolderList::ReadRecords(
    const std::vector<std::string>& entries, std::vector<std::pair<std::string, std::string>>* unreadable) {
    std::vector<VSSortRecord> records;
    records.reserve(entries.size());
    for (const std::string& path : entries) {
        VSFileStatus status{0, 0};
        std::string errorText;
        if (fs_.Status(path, &status, &errorText)) {
            records.push_back({status.created, status.size, path});
        } else {
            unreadable->emplace_back(path, errorText);
        }
    }
    return records;
}

void FolderList::CommitSortLocked(const std::vector<VSSortRecord>& records) {
    std::vector<std::string> sorted;
    sorted.reserve(records.size());
    known_.clear();
    for (const VSSortRecord& record : records) {
        sorted.push_back(record.path);
        known_[record.path] = {record.created, record.size};
    }
    // A sort that leaves the order as it was changes nothing.
    if (sorted != entries_) {
        entries_ = std::move(sorted);
        ++generation_;
    }
    if (entries_.empty()) {
        index_ = -1;
        return;
    }
    for (size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i] == path_) {
            index_ = static_cast<int32_t>(i);
            return;
        }
    }
    // Unlisted current path: the index stays, but inside the list.
    const int32_t last = static_cast<int32_t>(entries_.size()) - 1;
    if (index_ > last) index_ = last;
    if (index_ < 0) index_ = 0;
}

void FolderList::SortList(uint32_t key, bool ascending,
                          const std::function<void(const std::string&, const std::string&)>& onUnreadable) {
    std::vector<std::pair<std::string, std::string>> unreadable;
    bool committed = false;
    for (int pass = 0; pass < kOptimisticSortPasses && !committed; ++pass) {
        std::vector<std::string> entries;
        uint64_t generation = 0;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            entries = entries_;
            generation = generation_;
        }
        unreadable.clear();
        std::vector<VSSortRecord> records = ReadRecords(entries, &unreadable);
        SortRecords(&records, key, ascending);
        std::lock_guard<std::mutex> lock(mutex_);
        if (generation_ == generation) {
            CommitSortLocked(records);
            committed = true;
        }
    }
    if (!committed) {
        std::lock_guard<std::mutex> lock(mutex_);
        unreadable.clear();
        std::vector<VSSortRecord> records = ReadRecords(entries_, &unreadable);
        SortRecords(&records, key, ascending);
        CommitSortLocked(records);
    }
    if (!onUnreadable) return;
    for (const auto& file : unreadable) onUnreadable(file.first, file.second);
}

void FolderList::SetCurrent(int32_t index, const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (index >= 0 && index < static_cast<int32_t>(entries_.size())) index_ = index;
    path_ = path;
}

void FolderList::Append(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.push_back(path);
    ++generation_;
    if (index_ < 0) index_ = 0;
}

void FolderList::ReplaceCurrent(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!entries_.empty()) {
        entries_[static_cast<size_t>(index_)] = path;
        ++generation_;
    }
    path_ = path;
}

uint64_t FolderList::Generation() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return generation_;
}

int32_t FolderList::Count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int32_t>(entries_.size());
}

int32_t FolderList::CurrentIndex() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return index_;
}

std::string FolderList::CurrentPath() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return path_;
}

std::string FolderList::At(int32_t index) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (index < 0 || index >= static_cast<int32_t>(entries_.size())) return std::string();
    return entries_[static_cast<size_t>(index)];
}

std::vector<std::string> FolderList::Entries() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_;
}

bool FolderList::Empty() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_.empty();
}

VSListSnapshot FolderList::Snapshot() const {
    std::lock_guard<std::mutex> lock(mutex_);
    VSListSnapshot snapshot;
    snapshot.entries = entries_;
    snapshot.index = index_;
    snapshot.path = path_;
    return snapshot;
}

bool FolderList::KnownStatus(const std::string& path, VSFileStatus* status) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = known_.find(path);
    if (it == known_.end()) return false;
    *status = it->second;
    return true;
}

int32_t FolderList::IndexOf(const std::string& path, bool ignoreCase) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return IndexLocked(path, ignoreCase);
}

int32_t FolderList::IndexLocked(const std::string& path, bool ignoreCase) const {
    for (size_t i = 0; i < entries_.size(); ++i) {
        if (ignoreCase ? CompareNoCase(entries_[i], path) == 0 : entries_[i] == path) {
            return static_cast<int32_t>(i);
        }
    }
    return -1;
}
