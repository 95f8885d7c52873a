// The folder file list: building, navigation, deletion, the sort orders
// and the list's consistency while another thread sorts it.
#include "folderlist.h"
#include "paths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <list>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

using Paths = std::vector<std::string>;

// Folders and file statuses held in memory.
class FakeFileSystem : public VSFileSystem {
public:
    void AddFolder(const std::string& folder) { folders_[folder]; }
    void AddFile(const std::string& folder, const std::string& name, uint32_t size = 0, int64_t created = 0) {
        std::lock_guard<std::mutex> lock(mutex_);
        folders_[folder].push_back({name, false});
        files_[folder + name] = {created, size};
    }
    void AddSubFolder(const std::string& folder, const std::string& name) {
        std::lock_guard<std::mutex> lock(mutex_);
        folders_[folder].push_back({name, true});
    }
    void SetUnreadable(const std::string& path) {
        std::lock_guard<std::mutex> lock(mutex_);
        unreadable_.insert(path);
    }
    bool Exists(const std::string& path) const {
        std::lock_guard<std::mutex> lock(mutex_);
        return files_.count(path) != 0;
    }
    Paths Removed() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return removed_;
    }
    bool refuseRemove = false;
    std::function<void()> beforeStatus;  // runs unlocked, as another thread might

    bool List(const std::string& folder, std::vector<VSDirEntry>* entries) override {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = folders_.find(folder);
        if (it == folders_.end()) return false;
        *entries = it->second;
        return true;
    }
    bool Status(const std::string& path, VSFileStatus* status, std::string* errorText) override {
        if (beforeStatus) beforeStatus();
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = files_.find(path);
        if (it == files_.end() || unreadable_.count(path)) {
            *errorText = it == files_.end() ? "The system cannot find the file specified.\r\n"
                                            : "Access is denied.\r\n";
            return false;
        }
        *status = it->second;
        return true;
    }
    bool Remove(const std::string& path) override {
        std::lock_guard<std::mutex> lock(mutex_);
        removed_.push_back(path);
        if (refuseRemove) return false;
        return files_.erase(path) != 0;
    }

private:
    mutable std::mutex mutex_;
    std::map<std::string, std::vector<VSDirEntry>> folders_;
    std::map<std::string, VSFileStatus> files_;
    std::set<std::string> unreadable_;
    Paths removed_;
};

const std::string kPics = "C:\\Pics\\";

// A folder of three pictures and two other files, in this enumeration order.
void AddExampleFolder(FakeFileSystem& fs) {
    fs.AddFile(kPics, "b.JPG", 300, 1000);
    fs.AddFile(kPics, "a.jpg", 100, 3000);
    fs.AddFile(kPics, "C.png", 200, 2000);
    fs.AddFile(kPics, "notes.txt", 10, 10);
    fs.AddFile(kPics, "readme", 10, 10);
}

Paths InPics(std::initializer_list<const char*> names) {
    Paths paths;
    for (const char* name : names) paths.push_back(kPics + name);
    return paths;
}

void SortBy(FolderList& list, uint32_t key, bool ascending) { list.SortList(key, ascending, nullptr); }

}  // namespace

// ---------------------------------------------------------------- building

TEST(FolderListBuildTest, ListsThePicturesInFileSystemOrder) {
    FakeFileSystem fs;
    AddExampleFolder(fs);
    // A root folder has no "." entry: its first file must not be skipped.
    // Should a file system report "." and "..", they are skipped by name.
    fs.AddFile("D:\\", "first.jpg");
    fs.AddSubFolder("D:\\", "trip.jpg");
    fs.AddSubFolder("D:\\", ".");
    fs.AddSubFolder("D:\\", "..");
    fs.AddFile("D:\\", "..jpg");
    FolderList list(fs);
    list.Build("D:\\..jpg");
    EXPECT_EQ(list.Entries(), (Paths{"D:\\first.jpg", "D:\\..jpg"}));
    EXPECT_EQ(list.CurrentIndex(), 1);
    list.Build(kPics + "a.jpg");
    EXPECT_EQ(list.Entries(), InPics({"b.JPG", "a.jpg", "C.png"}));
    EXPECT_EQ(list.CurrentIndex(), 1);
    EXPECT_EQ(list.CurrentPath(), kPics + "a.jpg");
    // A path differing in case, or unlisted, makes the first entry current.
    for (const char* name : {"A.JPG", "notes.txt"}) {
        list.Build(kPics + name);
        EXPECT_EQ(list.CurrentIndex(), 0);
        EXPECT_EQ(list.CurrentPath(), kPics + "b.JPG");
    }
}

TEST(FolderListBuildTest, EmptyOrUnreadableFolderGivesAnEmptyListThatIsNeverRead) {
    FakeFileSystem fs;
    fs.AddFolder("C:\\Empty\\");
    fs.AddFile("C:\\Empty\\", "notes.txt");
    for (const std::string path : {"C:\\Empty\\x.jpg", "C:\\Missing\\x.jpg"}) {
        FolderList list(fs);
        list.Build(path);
        EXPECT_TRUE(list.Empty());
        list.Next();
        list.Previous();
        list.First();
        list.Last();
        EXPECT_EQ(list.CurrentIndex(), -1);
        EXPECT_EQ(list.CurrentPath(), "");
        EXPECT_EQ(list.At(-1), "");
        EXPECT_EQ(list.DeleteCurrent(), -1);
        SortBy(list, kSortName, true);
        EXPECT_EQ(list.CurrentIndex(), -1);
    }
    EXPECT_TRUE(fs.Removed().empty());
}

TEST(FolderListBuildTest, BuildFromFolderMakesTheFirstCurrentOrChangesNothing) {
    FakeFileSystem fs;
    AddExampleFolder(fs);
    fs.AddFile("C:\\Other\\", "z.tga");
    fs.AddFolder("C:\\Empty\\");
    FolderList list(fs);
    list.Build("C:\\Other\\z.tga");

    EXPECT_FALSE(list.BuildFromFolder("C:\\Empty\\"));
    EXPECT_FALSE(list.BuildFromFolder("C:\\Missing\\"));
    EXPECT_EQ(list.Entries(), (Paths{"C:\\Other\\z.tga"}));
    EXPECT_EQ(list.CurrentPath(), "C:\\Other\\z.tga");

    ASSERT_TRUE(list.BuildFromFolder(kPics));
    EXPECT_EQ(list.Entries(), InPics({"b.JPG", "a.jpg", "C.png"}));
    EXPECT_EQ(list.CurrentIndex(), 0);
    EXPECT_EQ(list.CurrentPath(), kPics + "b.JPG");

    // Without the trailing separator the entries are still folder + "\" + name.
    list.Build("C:\\Other\\z.tga");
    ASSERT_TRUE(list.BuildFromFolder("C:\\Pics"));
    EXPECT_EQ(list.At(2), kPics + "C.png");
}

TEST(FolderListBuildTest, AssignAppendReplaceAndLookUp) {
    FakeFileSystem fs;
    FolderList list(fs);
    EXPECT_FALSE(list.Assign({}));
    EXPECT_EQ(list.CurrentIndex(), -1);

    list.Append("C:\\A\\one.jpg");
    EXPECT_EQ(list.CurrentIndex(), 0);
    EXPECT_EQ(list.CurrentPath(), "");

    ASSERT_TRUE(list.Assign({"C:\\A\\x.jpg", "C:\\B\\y.png"}));
    EXPECT_EQ(list.CurrentIndex(), 0);
    EXPECT_EQ(list.CurrentPath(), "C:\\A\\x.jpg");

    list.Append("C:\\A\\New.JPG");
    EXPECT_EQ(list.IndexOf("c:\\a\\new.jpg", true), 2);
    EXPECT_EQ(list.IndexOf("c:\\a\\new.jpg", false), -1);
    EXPECT_EQ(list.IndexOf("C:\\A\\New.JPG", false), 2);

    list.Next();
    list.ReplaceCurrent("C:\\B\\y-edited.png");
    EXPECT_EQ(list.Entries(), (Paths{"C:\\A\\x.jpg", "C:\\B\\y-edited.png", "C:\\A\\New.JPG"}));
    EXPECT_EQ(list.CurrentPath(), "C:\\B\\y-edited.png");

    list.Clear();
    EXPECT_TRUE(list.Empty());
    EXPECT_EQ(list.CurrentIndex(), -1);
    list.ReplaceCurrent("C:\\B\\z.png");
    EXPECT_TRUE(list.Empty());
    EXPECT_EQ(list.CurrentPath(), "C:\\B\\z.png");
}

// ---------------------------------------------------------------- navigation

TEST(FolderListNavigationTest, WrapAroundAndIndexesOutsideTheList) {
    FakeFileSystem fs;
    AddExampleFolder(fs);
    FolderList list(fs);
    list.Build(kPics + "C.png");
    const struct {
        void (FolderList::*step)();
        const char* want;
    } steps[] = {{&FolderList::Next, "b.JPG"}, {&FolderList::Previous, "C.png"}, {&FolderList::Previous, "a.jpg"},
                 {&FolderList::First, "b.JPG"}, {&FolderList::Last, "C.png"}};
    for (const auto& s : steps) {
        (list.*s.step)();
        EXPECT_EQ(list.CurrentPath(), kPics + s.want);
        EXPECT_EQ(list.At(list.CurrentIndex()), kPics + s.want);
    }
    for (int32_t bad : {3, -1, -2147483647 - 1}) {
        list.SetCurrent(bad, kPics + "elsewhere.jpg");
        EXPECT_EQ(list.CurrentIndex(), 2);
        EXPECT_EQ(list.CurrentPath(), kPics + "elsewhere.jpg");
    }
    list.Next();
    EXPECT_EQ(list.CurrentIndex(), 0);
}

// ---------------------------------------------------------------- deletion

TEST(FolderListDeleteTest, LastMiddleAndOnlyEntry) {
    FakeFileSystem fs;
    AddExampleFolder(fs);
    FolderList list(fs);
    list.Build(kPics + "C.png");
    EXPECT_EQ(list.DeleteCurrent(), 2);
    EXPECT_FALSE(fs.Exists(kPics + "C.png"));
    EXPECT_EQ(list.Entries(), InPics({"b.JPG", "a.jpg"}));
    EXPECT_EQ(list.CurrentIndex(), 1);
    EXPECT_EQ(list.CurrentPath(), kPics + "a.jpg");

    // From the middle (first here): the next entry moves up into the index.
    list.First();
    EXPECT_EQ(list.DeleteCurrent(), 0);
    EXPECT_EQ(list.CurrentIndex(), 0);
    EXPECT_EQ(list.CurrentPath(), kPics + "a.jpg");

    EXPECT_EQ(list.DeleteCurrent(), 0);
    EXPECT_TRUE(list.Empty());
    EXPECT_EQ(list.CurrentIndex(), -1);
    EXPECT_EQ(list.CurrentPath(), "");
    EXPECT_EQ(fs.Removed(), InPics({"C.png", "b.JPG", "a.jpg"}));

    // A refused removal still takes the entry out.
    FakeFileSystem refusing;
    AddExampleFolder(refusing);
    refusing.refuseRemove = true;
    FolderList other(refusing);
    other.Build(kPics + "b.JPG");
    EXPECT_EQ(other.DeleteCurrent(), 0);
    EXPECT_TRUE(refusing.Exists(kPics + "b.JPG"));
    EXPECT_EQ(other.Entries(), InPics({"a.jpg", "C.png"}));
}

TEST(FolderListDeleteTest, UnlistedCurrentPathLeavesTheOtherEntriesAlone) {
    FakeFileSystem fs;
    AddExampleFolder(fs);
    fs.AddFile("C:\\Other\\", "handed.jpg");
    FolderList list(fs);
    list.Build(kPics + "a.jpg");
    list.SetCurrent(1, "C:\\Other\\handed.jpg");
    // The file shown is the one deleted; no listed entry disappears.
    EXPECT_EQ(list.DeleteCurrent(), -1);
    EXPECT_EQ(fs.Removed(), (Paths{"C:\\Other\\handed.jpg"}));
    EXPECT_EQ(list.Entries(), InPics({"b.JPG", "a.jpg", "C.png"}));
    EXPECT_EQ(list.CurrentIndex(), 1);
    EXPECT_EQ(list.CurrentPath(), kPics + "a.jpg");
    // Nothing shown: nothing is deleted.
    list.SetCurrent(0, "");
    EXPECT_EQ(list.DeleteCurrent(), -1);
    EXPECT_EQ(fs.Removed().size(), 1u);
}

// ---------------------------------------------------------------- sorting

TEST(FolderListSortTest, EachKeyBothWaysWithTheIndexFollowingThePath) {
    FakeFileSystem fs;
    AddExampleFolder(fs);
    FolderList list(fs);
    list.Build(kPics + "b.JPG");
    const struct {
        uint32_t key;
        bool ascending;
        Paths want;
    } cases[] = {
        {kSortName, true, InPics({"a.jpg", "b.JPG", "C.png"})},  // case ignored
        {kSortName, false, InPics({"C.png", "b.JPG", "a.jpg"})},
        {kSortSize, true, InPics({"a.jpg", "C.png", "b.JPG"})},
        {kSortSize, false, InPics({"b.JPG", "C.png", "a.jpg"})},
        {kSortDate, true, InPics({"b.JPG", "C.png", "a.jpg"})},
        {kSortDate, false, InPics({"a.jpg", "C.png", "b.JPG"})},
    };
    for (const auto& c : cases) {
        SortBy(list, c.key, c.ascending);
        EXPECT_EQ(list.Entries(), c.want) << c.key << c.ascending;
        EXPECT_EQ(list.CurrentPath(), kPics + "b.JPG");
        EXPECT_EQ(list.At(list.CurrentIndex()), kPics + "b.JPG");
    }
}

TEST(FolderListSortTest, SortCommandsFlipOnlyTheCheckedKey) {
    VSSortState state;
    const struct { uint32_t command, key; bool ascending; } steps[] = {
        {kSortDate, kSortDate, true}, {kSortDate, kSortDate, false}, {kSortSize, kSortSize, true}};
    for (const auto& s : steps) {
        state.Command(s.command);
        EXPECT_TRUE(state.key == s.key && state.lastCommand == s.command && state.ascending == s.ascending);
    }
    // A stored key outside 17-19 checks nothing; any command sorts ascending.
    VSSortState odd;
    odd.key = 5;
    odd.ascending = false;
    odd.Command(kSortName);
    EXPECT_TRUE(odd.ascending);
}

TEST(FolderListSortTest, UnreadableFilesAreReportedAndLeaveTheList) {
    FakeFileSystem fs;
    AddExampleFolder(fs);
    fs.AddFile(kPics, "d.jpg", 5, 5);
    fs.SetUnreadable(kPics + "b.JPG");
    fs.SetUnreadable(kPics + "d.jpg");
    FolderList list(fs);
    list.Build(kPics + "d.jpg");
    ASSERT_EQ(list.Count(), 4);
    ASSERT_EQ(list.CurrentIndex(), 3);

    std::vector<std::pair<std::string, std::string>> reported;
    int32_t countSeen = -1;
    list.SortList(kSortName, true, [&](const std::string& path, const std::string& error) {
        reported.emplace_back(path, error);
        // Called without the lock held and after the list was replaced.
        countSeen = list.Count();
    });
    ASSERT_EQ(reported.size(), 2u);
    EXPECT_EQ(reported[0].first, kPics + "b.JPG");
    EXPECT_EQ(reported[0].second, "Access is denied.\r\n");
    EXPECT_EQ(reported[1].first, kPics + "d.jpg");
    EXPECT_EQ(countSeen, 2);
    EXPECT_EQ(list.Entries(), InPics({"a.jpg", "C.png"}));
    // The current path is no longer listed: the index stays, moved into the list.
    EXPECT_EQ(list.CurrentPath(), kPics + "d.jpg");
    EXPECT_EQ(list.CurrentIndex(), 1);

    // Every file gone: an empty list, and nothing reads it.
    fs.SetUnreadable(kPics + "a.jpg");
    fs.SetUnreadable(kPics + "C.png");
    list.SortList(kSortSize, true, nullptr);
    EXPECT_TRUE(list.Empty());
    EXPECT_EQ(list.CurrentIndex(), -1);
    EXPECT_EQ(list.DeleteCurrent(), -1);
}

TEST(FolderListSortTest, UnlistedCurrentPathKeepsTheIndex) {
    FakeFileSystem fs;
    AddExampleFolder(fs);
    FolderList list(fs);
    list.Build(kPics + "a.jpg");
    list.SetCurrent(2, "C:\\Elsewhere\\a.jpg");
    SortBy(list, kSortName, true);
    EXPECT_EQ(list.CurrentIndex(), 2);
    // Byte for byte: a different case is not the same path.
    list.SetCurrent(0, kPics + "A.JPG");
    SortBy(list, kSortName, false);
    EXPECT_EQ(list.CurrentIndex(), 0);
    list.SetCurrent(0, kPics + "a.jpg");
    SortBy(list, kSortName, false);
    EXPECT_EQ(list.CurrentIndex(), 2);
}

// The written-out merge sort against the standard list sort (strict
// predicates, so equal names and sizes keep their order) and against a
// stable sort with equal dates reversed (the date predicates hold for
// equal times, so at every merge the later run's element goes first).
TEST(FolderListSortTest, MergeSortMatchesTheStandardListSort) {
    std::mt19937 random(7);
    for (int round = 0; round < 200; ++round) {
        const size_t n = random() % 70;
        std::vector<VSSortRecord> records;
        for (size_t i = 0; i < n; ++i) {
            std::string name = "C:\\P\\";
            name += static_cast<char>((random() % 2 ? 'a' : 'A') + random() % 4);
            records.push_back({static_cast<int64_t>(random() % 5), static_cast<uint32_t>(random() % 5), name});
        }
        for (uint32_t key : {kSortName, kSortSize, kSortDate}) {
            for (bool ascending : {true, false}) {
                std::vector<VSSortRecord> ours = records;
                SortRecords(&ours, key, ascending);
                std::vector<size_t> order(n);
                for (size_t i = 0; i < n; ++i) order[i] = i;
                if (key == kSortDate) {
                    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
                        const int64_t ta = records[a].created, tb = records[b].created;
                        if (ta != tb) return ascending ? ta < tb : ta > tb;
                        return a > b;
                    });
                } else {
                    std::list<size_t> standard(order.begin(), order.end());
                    standard.sort([&](size_t a, size_t b) {
                        return SortPredicate(key, ascending, records[a], records[b]);
                    });
                    order.assign(standard.begin(), standard.end());
                }
                ASSERT_EQ(ours.size(), n);
                for (size_t i = 0; i < n; ++i) {
                    ASSERT_EQ(ours[i].path, records[order[i]].path) << "key " << key << " n " << n;
                    ASSERT_EQ(ours[i].size, records[order[i]].size);
                    ASSERT_EQ(ours[i].created, records[order[i]].created);
                }
            }
        }
    }
}

// ---------------------------------------------------------------- rebuilds

TEST(FolderListSortTest, RebuildDuringASortIsNeverUndone) {
    // The user-interface thread rebuilds while the worker reads file
    // statuses; the sort must not bring back the list that was replaced.
    FakeFileSystem fs;
    AddExampleFolder(fs);
    for (const char* name : {"z.bmp", "y.bmp"}) fs.AddFile("C:\\Other\\", name, 1, 1);
    FolderList list(fs);
    list.Build(kPics + "a.jpg");
    int rebuilds = 0;
    fs.beforeStatus = [&] {
        if (rebuilds++ == 0) list.Build("C:\\Other\\z.bmp");
    };
    list.SortList(kSortName, true, nullptr);
    EXPECT_EQ(list.Entries(), (Paths{"C:\\Other\\y.bmp", "C:\\Other\\z.bmp"}));
    EXPECT_EQ(list.CurrentPath(), "C:\\Other\\z.bmp");
    EXPECT_EQ(list.CurrentIndex(), 1);
}
