// The folder file list: building, navigation, deletion, the sort orders
// and the list's consistency while another thread sorts it.
#include "folderlist.h"
#include "paths.h"

#include "testutil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <list>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
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
    int StatusCalls() const { return statusCalls_; }
    bool refuseRemove = false;

    bool List(const std::string& folder, std::vector<VSDirEntry>* entries) override {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = folders_.find(folder);
        if (it == folders_.end()) return false;
        *entries = it->second;
        return true;
    }
    bool Status(const std::string& path, VSFileStatus* status, std::string* errorText) override {
        std::lock_guard<std::mutex> lock(mutex_);
        ++statusCalls_;
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
    std::atomic<int> statusCalls_{0};
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

// Checks the list's invariant in one snapshot.
void ExpectConsistent(const VSListSnapshot& s) {
    if (s.entries.empty()) {
        EXPECT_EQ(s.index, -1);
    } else {
        ASSERT_GE(s.index, 0);
        ASSERT_LT(s.index, static_cast<int32_t>(s.entries.size()));
    }
}

}  // namespace

// ---------------------------------------------------------------- building

TEST(FolderListBuildTest, ListsThePicturesInFileSystemOrder) {
    FakeFileSystem fs;
    AddExampleFolder(fs);
    FolderList list(fs);
    list.Build(kPics + "a.jpg");
    EXPECT_EQ(list.Entries(), InPics({"b.JPG", "a.jpg", "C.png"}));
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(list.CurrentIndex(), 1);
    EXPECT_EQ(list.CurrentPath(), kPics + "a.jpg");
    EXPECT_FALSE(list.Empty());
}

TEST(FolderListBuildTest, CaseDifferingPathMakesTheFirstEntryCurrent) {
    FakeFileSystem fs;
    AddExampleFolder(fs);
    FolderList list(fs);
    list.Build(kPics + "A.JPG");
    EXPECT_EQ(list.CurrentIndex(), 0);
    EXPECT_EQ(list.CurrentPath(), kPics + "b.JPG");
    // Unlisted names behave the same.
    list.Build(kPics + "notes.txt");
    EXPECT_EQ(list.CurrentPath(), kPics + "b.JPG");
}

TEST(FolderListBuildTest, RootFolderKeepsItsFirstFileAndFoldersAreNotListed) {
    FakeFileSystem fs;
    // A root folder has no "." entry: the first file must not be skipped.
    fs.AddFile("D:\\", "first.jpg");
    fs.AddSubFolder("D:\\", "trip.jpg");
    fs.AddFile("D:\\", "second.png");
    FolderList list(fs);
    list.Build("D:\\second.png");
    EXPECT_EQ(list.Entries(), (Paths{"D:\\first.jpg", "D:\\second.png"}));
    EXPECT_EQ(list.CurrentIndex(), 1);

    // Should a file system report "." and "..", they are skipped by name.
    FakeFileSystem dotted;
    dotted.AddSubFolder(kPics, ".");
    dotted.AddSubFolder(kPics, "..");
    dotted.AddFile(kPics, "x.jpg");
    dotted.AddFile(kPics, "..jpg");
    FolderList other(dotted);
    other.Build(kPics + "x.jpg");
    EXPECT_EQ(other.Entries(), InPics({"x.jpg", "..jpg"}));
}

TEST(FolderListBuildTest, EmptyOrUnreadableFolderGivesAnEmptyListThatIsNeverRead) {
    FakeFileSystem fs;
    fs.AddFolder("C:\\Empty\\");
    fs.AddFile("C:\\Empty\\", "notes.txt");
    for (const std::string path : {"C:\\Empty\\x.jpg", "C:\\Missing\\x.jpg"}) {
        FolderList list(fs);
        list.Build(path);
        EXPECT_TRUE(list.Empty());
        EXPECT_EQ(list.Count(), 0);
        EXPECT_EQ(list.CurrentIndex(), -1);
        EXPECT_EQ(list.CurrentPath(), "");
        list.Next();
        list.Previous();
        list.First();
        list.Last();
        EXPECT_EQ(list.CurrentIndex(), -1);
        EXPECT_EQ(list.CurrentPath(), "");
        EXPECT_EQ(list.At(0), "");
        EXPECT_EQ(list.At(-1), "");
        EXPECT_EQ(list.DeleteCurrent(), -1);
        SortBy(list, kSortName, true);
        EXPECT_TRUE(list.Empty());
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
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(list.IndexOf("c:\\a\\new.jpg", true), 2);
    EXPECT_EQ(list.IndexOf("c:\\a\\new.jpg", false), -1);
    EXPECT_EQ(list.IndexOf("C:\\A\\New.JPG", false), 2);
    EXPECT_EQ(list.IndexOf("C:\\nothing.jpg", true), -1);

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

TEST(FolderListNavigationTest, NextAndPreviousWrapAround) {
    FakeFileSystem fs;
    AddExampleFolder(fs);
    FolderList list(fs);
    list.Build(kPics + "C.png");
    ASSERT_EQ(list.CurrentIndex(), 2);
    list.Next();
    EXPECT_EQ(list.CurrentIndex(), 0);
    EXPECT_EQ(list.CurrentPath(), kPics + "b.JPG");
    list.Previous();
    EXPECT_EQ(list.CurrentIndex(), 2);
    EXPECT_EQ(list.CurrentPath(), kPics + "C.png");
    list.Previous();
    EXPECT_EQ(list.CurrentPath(), kPics + "a.jpg");
    list.First();
    EXPECT_EQ(list.CurrentPath(), kPics + "b.JPG");
    list.Last();
    EXPECT_EQ(list.CurrentPath(), kPics + "C.png");

    // A single entry wraps onto itself.
    FakeFileSystem one;
    one.AddFile(kPics, "only.bmp");
    FolderList single(one);
    single.Build(kPics + "only.bmp");
    single.Next();
    EXPECT_EQ(single.CurrentIndex(), 0);
    single.Previous();
    EXPECT_EQ(single.CurrentPath(), kPics + "only.bmp");
}

TEST(FolderListNavigationTest, SetCurrentIgnoresAnIndexOutsideTheList) {
    FakeFileSystem fs;
    AddExampleFolder(fs);
    FolderList list(fs);
    list.Build(kPics + "a.jpg");
    list.SetCurrent(2, kPics + "C.png");
    EXPECT_EQ(list.CurrentIndex(), 2);
    EXPECT_EQ(list.CurrentPath(), kPics + "C.png");
    for (int32_t bad : {3, 99, -1, -2147483647 - 1}) {
        list.SetCurrent(bad, kPics + "elsewhere.jpg");
        EXPECT_EQ(list.CurrentIndex(), 2);
        EXPECT_EQ(list.CurrentPath(), kPics + "elsewhere.jpg");
    }
    list.Next();
    EXPECT_EQ(list.CurrentIndex(), 0);
}

// ---------------------------------------------------------------- deletion

TEST(FolderListDeleteTest, DeletingTheLastAndTheOnlyEntry) {
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
    EXPECT_EQ(list.DeleteCurrent(), -1);
    EXPECT_EQ(fs.Removed(), InPics({"C.png", "b.JPG", "a.jpg"}));
}

TEST(FolderListDeleteTest, RefusedRemovalStillTakesTheEntryOut) {
    FakeFileSystem fs;
    AddExampleFolder(fs);
    fs.refuseRemove = true;
    FolderList list(fs);
    list.Build(kPics + "b.JPG");
    EXPECT_EQ(list.DeleteCurrent(), 0);
    EXPECT_TRUE(fs.Exists(kPics + "b.JPG"));
    EXPECT_EQ(list.Entries(), InPics({"a.jpg", "C.png"}));
    EXPECT_EQ(list.CurrentPath(), kPics + "a.jpg");
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
    EXPECT_EQ(list.Count(), 3);
}

// ---------------------------------------------------------------- sorting

TEST(FolderListSortTest, ByNameIgnoresCase) {
    FakeFileSystem fs;
    AddExampleFolder(fs);
    FolderList list(fs);
    list.Build(kPics + "b.JPG");
    SortBy(list, kSortName, true);
    EXPECT_EQ(list.Entries(), InPics({"a.jpg", "b.JPG", "C.png"}));
    // The index follows the current path.
    EXPECT_EQ(list.CurrentIndex(), 1);
    EXPECT_EQ(list.CurrentPath(), kPics + "b.JPG");
    list.Last();
    SortBy(list, kSortName, false);
    EXPECT_EQ(list.Entries(), InPics({"C.png", "b.JPG", "a.jpg"}));
    EXPECT_EQ(list.CurrentIndex(), 0);
    EXPECT_EQ(list.CurrentPath(), kPics + "C.png");
}

TEST(FolderListSortTest, BySizeAndDate) {
    FakeFileSystem fs;
    AddExampleFolder(fs);
    FolderList list(fs);
    list.Build(kPics + "a.jpg");
    SortBy(list, kSortSize, true);
    EXPECT_EQ(list.Entries(), InPics({"a.jpg", "C.png", "b.JPG"}));
    SortBy(list, kSortSize, false);
    EXPECT_EQ(list.Entries(), InPics({"b.JPG", "C.png", "a.jpg"}));
    SortBy(list, kSortDate, true);
    EXPECT_EQ(list.Entries(), InPics({"b.JPG", "C.png", "a.jpg"}));
    SortBy(list, kSortDate, false);
    EXPECT_EQ(list.Entries(), InPics({"a.jpg", "C.png", "b.JPG"}));
    EXPECT_EQ(list.CurrentPath(), kPics + "a.jpg");
    EXPECT_EQ(list.CurrentIndex(), 0);
}

TEST(FolderListSortTest, EqualSizesKeepTheirOrderBothWays) {
    FakeFileSystem fs;
    fs.AddFile(kPics, "x.jpg", 100);
    fs.AddFile(kPics, "y.jpg", 50);
    fs.AddFile(kPics, "z.jpg", 100);
    fs.AddFile(kPics, "w.jpg", 50);
    fs.AddFile(kPics, "v.jpg", 100);
    FolderList list(fs);
    list.Build(kPics + "x.jpg");
    SortBy(list, kSortSize, true);
    EXPECT_EQ(list.Entries(), InPics({"y.jpg", "w.jpg", "x.jpg", "z.jpg", "v.jpg"}));
    SortBy(list, kSortSize, false);
    EXPECT_EQ(list.Entries(), InPics({"x.jpg", "z.jpg", "v.jpg", "y.jpg", "w.jpg"}));
    // Names equal but for case keep their order too.
    FakeFileSystem cased;
    cased.AddFile(kPics, "B.jpg");
    cased.AddFile(kPics, "a.jpg");
    cased.AddFile(kPics, "b.jpg");
    FolderList names(cased);
    names.Build(kPics + "a.jpg");
    SortBy(names, kSortName, true);
    EXPECT_EQ(names.Entries(), InPics({"a.jpg", "B.jpg", "b.jpg"}));
    SortBy(names, kSortName, false);
    EXPECT_EQ(names.Entries(), InPics({"B.jpg", "b.jpg", "a.jpg"}));
}

TEST(FolderListSortTest, EqualDatesComeOutReversed) {
    // The date predicates hold for equal times, so at every merge the later
    // run's element goes first: equal dates end up in reverse order.
    FakeFileSystem fs;
    fs.AddFile(kPics, "p.jpg", 0, 10);
    fs.AddFile(kPics, "q.jpg", 0, 10);
    fs.AddFile(kPics, "r.jpg", 0, 10);
    FolderList list(fs);
    list.Build(kPics + "p.jpg");
    SortBy(list, kSortDate, true);
    EXPECT_EQ(list.Entries(), InPics({"r.jpg", "q.jpg", "p.jpg"}));
    SortBy(list, kSortDate, true);
    EXPECT_EQ(list.Entries(), InPics({"p.jpg", "q.jpg", "r.jpg"}));
    SortBy(list, kSortDate, false);
    EXPECT_EQ(list.Entries(), InPics({"r.jpg", "q.jpg", "p.jpg"}));
    EXPECT_EQ(list.CurrentIndex(), 2);

    FakeFileSystem mixed;
    mixed.AddFile(kPics, "a.jpg", 0, 5);
    mixed.AddFile(kPics, "b.jpg", 0, 10);
    mixed.AddFile(kPics, "c.jpg", 0, 5);
    mixed.AddFile(kPics, "d.jpg", 0, 10);
    mixed.AddFile(kPics, "e.jpg", 0, 5);
    FolderList dates(mixed);
    dates.Build(kPics + "a.jpg");
    SortBy(dates, kSortDate, true);
    EXPECT_EQ(dates.Entries(), InPics({"e.jpg", "c.jpg", "a.jpg", "d.jpg", "b.jpg"}));
    dates.Build(kPics + "a.jpg");
    SortBy(dates, kSortDate, false);
    EXPECT_EQ(dates.Entries(), InPics({"d.jpg", "b.jpg", "e.jpg", "c.jpg", "a.jpg"}));
}

TEST(FolderListSortTest, SortCommandsFlipOnlyTheCheckedKey) {
    VSSortState state;
    EXPECT_EQ(state.key, kSortName);
    EXPECT_TRUE(state.ascending);
    EXPECT_EQ(state.lastCommand, 0u);

    FakeFileSystem fs;
    fs.AddFile(kPics, "old-big.jpg", 900, 100);
    fs.AddFile(kPics, "new-small.jpg", 100, 300);
    fs.AddFile(kPics, "mid.jpg", 500, 200);
    FolderList list(fs);
    list.Build(kPics + "mid.jpg");

    state.Command(kSortDate);
    EXPECT_TRUE(state.ascending);
    list.SortList(state.key, state.ascending, nullptr);
    EXPECT_EQ(list.Entries(), InPics({"old-big.jpg", "mid.jpg", "new-small.jpg"}));

    state.Command(kSortDate);
    EXPECT_FALSE(state.ascending);
    EXPECT_EQ(state.lastCommand, kSortDate);
    list.SortList(state.key, state.ascending, nullptr);
    EXPECT_EQ(list.Entries(), InPics({"new-small.jpg", "mid.jpg", "old-big.jpg"}));

    state.Command(kSortSize);
    EXPECT_TRUE(state.ascending);
    EXPECT_EQ(state.key, kSortSize);
    EXPECT_EQ(state.lastCommand, kSortSize);
    list.SortList(state.key, state.ascending, nullptr);
    EXPECT_EQ(list.Entries(), InPics({"new-small.jpg", "mid.jpg", "old-big.jpg"}));
    EXPECT_EQ(list.CurrentPath(), kPics + "mid.jpg");
    EXPECT_EQ(list.CurrentIndex(), 1);

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
    FakeFileSystem gone;
    gone.AddFile(kPics, "x.jpg");
    FolderList lonely(gone);
    lonely.Build(kPics + "x.jpg");
    gone.SetUnreadable(kPics + "x.jpg");
    lonely.SortList(kSortSize, true, nullptr);
    EXPECT_TRUE(lonely.Empty());
    EXPECT_EQ(lonely.CurrentIndex(), -1);
    lonely.Next();
    EXPECT_EQ(lonely.DeleteCurrent(), -1);
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
// predicates) and against a stable sort with equal dates reversed.
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

// ---------------------------------------------------------------- threads

TEST(FolderListThreadTest, ReadersSeeWholeListsWhileAnotherThreadSorts) {
    FakeFileSystem fs;
    std::set<std::string> all;
    for (int i = 0; i < 60; ++i) {
        const std::string name = "f" + std::to_string((i * 37) % 60) + ".jpg";
        fs.AddFile(kPics, name, static_cast<uint32_t>((i * 13) % 7), (i * 11) % 5);
        all.insert(kPics + name);
    }
    FolderList list(fs);
    list.Build(kPics + "f5.jpg");
    ASSERT_EQ(list.Count(), 60);

    std::atomic<bool> stop{false};
    std::atomic<int> sorts{0};
    std::thread sorter([&] {
        const uint32_t keys[] = {kSortName, kSortDate, kSortSize};
        for (int i = 0; i < 300; ++i) {
            list.SortList(keys[i % 3], (i / 3) % 2 == 0, nullptr);
            ++sorts;
        }
        stop = true;
    });

    int rounds = 0;
    bool failed = false;
    // Ends with the sorter; the extra rounds make sure reads happen at all.
    while ((!stop || rounds < 1000) && !failed) {
        ++rounds;
        list.Next();
        if (rounds % 7 == 0) list.Previous();
        const std::string current = list.CurrentPath();
        const int32_t count = list.Count();
        const std::vector<std::string> entries = list.Entries();
        const std::string at = list.At(rounds % 61);
        const VSListSnapshot snapshot = list.Snapshot();

        failed = count != 60 || entries.size() != 60u || all.count(current) == 0 ||
                 std::set<std::string>(entries.begin(), entries.end()) != all ||
                 (rounds % 61 < 60 ? all.count(at) == 0 : !at.empty()) || snapshot.entries.size() != 60u ||
                 snapshot.index < 0 || snapshot.index >= 60 ||
                 snapshot.entries[static_cast<size_t>(snapshot.index)] != snapshot.path;
    }
    sorter.join();
    EXPECT_FALSE(failed) << "inconsistent read in round " << rounds;
    EXPECT_EQ(sorts, 300);
    const VSListSnapshot last = list.Snapshot();
    ExpectConsistent(last);
    EXPECT_EQ(last.entries[static_cast<size_t>(last.index)], last.path);
}

TEST(FolderListThreadTest, RebuildsAndDeletionsDuringSortsKeepTheListWhole) {
    // The user-interface thread rebuilds and deletes while the worker sorts;
    // a sort must never bring back a list that was replaced meanwhile.
    FakeFileSystem fs;
    for (int i = 0; i < 40; ++i) fs.AddFile(kPics, "p" + std::to_string(i) + ".png", i % 3, i % 4);
    for (int i = 0; i < 10; ++i) fs.AddFile("C:\\Other\\", "o" + std::to_string(i) + ".bmp", i, i);
    fs.refuseRemove = true;
    FolderList list(fs);
    list.Build(kPics + "p0.png");

    std::atomic<bool> stop{false};
    std::thread sorter([&] {
        for (int i = 0; i < 200; ++i) list.SortList(i % 2 ? kSortSize : kSortName, i % 4 < 2, nullptr);
        stop = true;
    });
    bool failed = false;
    int rounds = 0;
    std::string expectedFolder = kPics;
    size_t folderSize = 40;
    std::set<std::string> deleted;
    while ((!stop || rounds < 200) && !failed) {
        ++rounds;
        if (rounds % 50 == 0) {
            const bool other = (rounds / 50) % 2 == 1;
            list.Build(other ? "C:\\Other\\o1.bmp" : kPics + "p1.png");
            expectedFolder = other ? "C:\\Other\\" : kPics;
            folderSize = other ? 10 : 40;
            deleted.clear();
        }
        if (rounds % 9 == 0) {
            const std::string current = list.CurrentPath();
            if (list.DeleteCurrent() >= 0) deleted.insert(current);
        }
        const VSListSnapshot s = list.Snapshot();
        for (const std::string& entry : s.entries) {
            failed = failed || Folder(entry) != expectedFolder || deleted.count(entry) != 0;
        }
        failed = failed || s.entries.size() != folderSize - deleted.size();
        failed = failed || (s.entries.empty() ? s.index != -1
                                              : s.index < 0 || s.index >= static_cast<int32_t>(s.entries.size()));
        failed = failed || std::set<std::string>(s.entries.begin(), s.entries.end()).size() != s.entries.size();
    }
    sorter.join();
    EXPECT_FALSE(failed) << "stale or broken list in round " << rounds;
    list.SortList(kSortName, true, nullptr);
    const VSListSnapshot s = list.Snapshot();
    ExpectConsistent(s);
    EXPECT_EQ(s.entries.size(), folderSize - deleted.size());
    EXPECT_TRUE(std::is_sorted(s.entries.begin(), s.entries.end(),
                               [](const std::string& a, const std::string& b) { return CompareNoCase(a, b) < 0; }));
}

// ---------------------------------------------------------------- real folders

TEST(FolderListStdFileSystemTest, BuildsSortsAndDeletesInARealFolder) {
    namespace fsys = std::filesystem;
    const fsys::path dir = vstest::ScratchDir();
    for (const auto& old : fsys::directory_iterator(dir)) fsys::remove_all(old.path());
    const auto write = [&](const std::string& name, size_t bytes) {
        std::ofstream(dir / name, std::ios::binary) << std::string(bytes, 'x');
    };
    write("b.JPG", 30);
    write("a.jpg", 10);
    write("C.png", 20);
    write("notes.txt", 5);
    write("readme", 5);
    fsys::create_directory(dir / "trip.jpg");

    // The list's own separator, taken as "/" by the file system.
    std::string folder = dir.string() + "/";
    std::replace(folder.begin(), folder.end(), '/', '\\');

    VSStdFileSystem files;
    FolderList list(files);
    list.Build(folder + "a.jpg");
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(list.CurrentPath(), folder + "a.jpg");
    list.SortList(kSortName, true, nullptr);
    EXPECT_EQ(list.Entries(), (Paths{folder + "a.jpg", folder + "b.JPG", folder + "C.png"}));
    list.SortList(kSortSize, false, nullptr);
    EXPECT_EQ(list.Entries(), (Paths{folder + "b.JPG", folder + "C.png", folder + "a.jpg"}));

    VSFileStatus status{0, 0};
    std::string error;
    ASSERT_TRUE(files.Status(folder + "C.png", &status, &error));
    EXPECT_EQ(status.size, 20u);
    EXPECT_FALSE(files.Status(folder + "missing.jpg", &status, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(files.Status(folder + "trip.jpg", &status, &error));

    list.Last();
    EXPECT_EQ(list.DeleteCurrent(), 2);
    EXPECT_FALSE(fsys::exists(dir / "a.jpg"));
    EXPECT_EQ(list.CurrentPath(), folder + "C.png");
    // A folder is never removed.
    EXPECT_FALSE(files.Remove(folder + "trip.jpg"));
    EXPECT_TRUE(fsys::is_directory(dir / "trip.jpg"));

    EXPECT_FALSE(list.BuildFromFolder(folder + "none"));
    EXPECT_EQ(list.Count(), 2);
}
