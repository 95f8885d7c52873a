// The folder file list: building, navigation, deletion, the sort orders
// and the list's consistency while the sort reads file statuses.
#include "browse/folderlist.h"
#include "browse/paths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

using Paths = std::vector<std::string>;

struct FakeFileSystem : VSFileSystem {
    std::map<std::string, std::vector<VSDirEntry>> folders;
    std::map<std::string, VSFileStatus> files;
    std::set<std::string> unreadable;
    Paths removed;
    bool refuseRemove = false;
    std::function<void()> beforeStatus;

    void AddFile(const std::string& folder, const std::string& name, uint32_t size = 0, int64_t created = 0) {
        folders[folder].push_back({name, false});
        files[folder + name] = {created, size};
    }
    bool List(const std::string& folder, std::vector<VSDirEntry>* entries) override {
        const auto it = folders.find(folder);
        if (it != folders.end()) *entries = it->second;
        return it != folders.end();
    }
    bool Status(const std::string& path, VSFileStatus* status, std::string* errorText) override {
        if (beforeStatus) beforeStatus();
        const auto it = files.find(path);
        if (it == files.end() || unreadable.count(path)) {
            *errorText = it == files.end() ? "Not found.\r\n" : "Access is denied.\r\n";
            return false;
        }
        *status = it->second;
        return true;
    }
    bool Remove(const std::string& path) override {
        removed.push_back(path);
        return !refuseRemove && files.erase(path) != 0;
    }
};

const std::string kPics = "C:\\Pics\\";

// A path without the common folder.
std::string Short(const std::string& path) { return path.compare(0, kPics.size(), kPics) ? path : path.substr(kPics.size()); }

// A folder of three pictures and two other files, in this enumeration order.
struct FolderListTest : ::testing::Test {
    FakeFileSystem fs;
    FolderList list{fs};
    FolderListTest() {
        fs.AddFile(kPics, "b.JPG", 300, 1000), fs.AddFile(kPics, "a.jpg", 100, 3000);
        fs.AddFile(kPics, "C.png", 200, 2000), fs.AddFile(kPics, "notes.txt", 10, 10);
        fs.AddFile(kPics, "readme", 10, 10);
    }
    void Sort(uint32_t key, bool ascending) { list.SortList(key, ascending, nullptr); }
    // "index:current path", then the entries, each without kPics.
    std::string State() const {
        std::string s = std::to_string(list.CurrentIndex()) + ":" + Short(list.CurrentPath()) + " |";
        for (const std::string& e : list.Entries()) s += " " + Short(e);
        return s;
    }
};

}  // namespace

TEST_F(FolderListTest, BuildListsThePicturesInFileSystemOrder) {
    // A root folder has no "." entry: its first file must not be skipped.
    // Should a file system report "." and "..", they are skipped by name.
    fs.AddFile("D:\\", "first.jpg");
    for (const char* folder : {"trip.jpg", ".", ".."}) fs.folders["D:\\"].push_back({folder, true});
    fs.AddFile("D:\\", "..jpg");
    list.Build("D:\\..jpg");
    EXPECT_EQ(State(), "1:D:\\..jpg | D:\\first.jpg D:\\..jpg");
    list.Build(kPics + "a.jpg");
    EXPECT_EQ(State(), "1:a.jpg | b.JPG a.jpg C.png");
    // A name in another case is that file; an unlisted one makes the first entry current.
    const std::pair<const char*, const char*> cases[] = {
        {"A.JPG", "1:a.jpg"}, {"c.PNG", "2:C.png"}, {"notes.txt", "0:b.JPG"}};
    for (const auto& c : cases) {
        list.Build(kPics + c.first);
        EXPECT_EQ(State(), std::string(c.second) + " | b.JPG a.jpg C.png");
    }
    // From a folder: the first is current; without the trailing separator
    // the entries are still folder + "\" + name; no pictures change nothing.
    fs.folders["C:\\Empty\\"];
    list.Last();
    EXPECT_FALSE(list.BuildFromFolder("C:\\Empty\\") || list.BuildFromFolder("C:\\Missing\\"));
    EXPECT_EQ(State(), "2:C.png | b.JPG a.jpg C.png");
    ASSERT_TRUE(list.BuildFromFolder("C:\\Pics"));
    EXPECT_EQ(State(), "0:b.JPG | b.JPG a.jpg C.png");
}

TEST_F(FolderListTest, EmptyOrUnreadableFolderGivesAnEmptyListThatIsNeverRead) {
    fs.AddFile("C:\\Empty\\", "notes.txt");
    for (const std::string path : {"C:\\Empty\\x.jpg", "C:\\Missing\\x.jpg"}) {
        list.Build(path);
        EXPECT_TRUE(list.Empty());
        list.Next(), list.Previous(), list.First(), list.Last();
        Sort(kSortName, true);
        EXPECT_EQ(State(), "-1: |");
        EXPECT_EQ(list.DeleteCurrent(), -1);
    }
    EXPECT_TRUE(fs.removed.empty());
}

TEST_F(FolderListTest, AssignAppendReplaceAndLookUp) {
    EXPECT_FALSE(list.Assign({}));
    ASSERT_TRUE(list.Assign({"C:\\A\\x.jpg", "C:\\B\\y.png"}));
    EXPECT_EQ(list.CurrentPath(), "C:\\A\\x.jpg");
    list.Append("C:\\A\\New.JPG");
    EXPECT_EQ(list.IndexOf("c:\\a\\new.jpg", true), 2);
    EXPECT_EQ(list.IndexOf("c:\\a\\new.jpg", false), -1);
    list.Next();
    list.ReplaceCurrent("C:\\B\\y-edited.png");
    EXPECT_EQ(State(), "1:C:\\B\\y-edited.png | C:\\A\\x.jpg C:\\B\\y-edited.png C:\\A\\New.JPG");
    // Cleared, the list takes no replacement but its first entry is current once appended.
    list.Clear();
    list.ReplaceCurrent("C:\\B\\z.png");
    EXPECT_EQ(State(), "-1:C:\\B\\z.png |");
    list.Append("C:\\A\\one.jpg");
    EXPECT_EQ(list.CurrentIndex(), 0);
}

TEST_F(FolderListTest, NavigationWrapsAroundAndIgnoresIndexesOutsideTheList) {
    list.Build(kPics + "C.png");
    const struct { void (FolderList::*step)(); const char* want; } steps[] = {
        {&FolderList::Next, "0:b.JPG"}, {&FolderList::Previous, "2:C.png"}, {&FolderList::Previous, "1:a.jpg"},
        {&FolderList::First, "0:b.JPG"}, {&FolderList::Last, "2:C.png"}};
    for (const auto& s : steps) {
        (list.*s.step)();
        EXPECT_EQ(State(), std::string(s.want) + " | b.JPG a.jpg C.png");
    }
    for (int32_t bad : {3, -1, -2147483647 - 1}) list.SetCurrent(bad, kPics + "elsewhere.jpg");
    EXPECT_EQ(State(), "2:elsewhere.jpg | b.JPG a.jpg C.png");
    EXPECT_EQ(list.At(-1), "");
}

TEST_F(FolderListTest, DeleteLastMiddleOnlyAndUnlistedEntries) {
    // An unlisted current path: its file goes, the entries stay.
    list.Build(kPics + "a.jpg");
    list.SetCurrent(1, "C:\\Other\\handed.jpg");
    EXPECT_EQ(list.DeleteCurrent(), -1);
    EXPECT_EQ(State(), "1:a.jpg | b.JPG a.jpg C.png");
    list.SetCurrent(2, kPics + "C.png");
    // The last: the one before becomes current.
    EXPECT_EQ(list.DeleteCurrent(), 2);
    EXPECT_EQ(State(), "1:a.jpg | b.JPG a.jpg");
    // From the middle (first here): the next entry moves up into the index.
    list.First();
    EXPECT_EQ(list.DeleteCurrent(), 0);
    EXPECT_EQ(State(), "0:a.jpg | a.jpg");
    // A refused removal still takes the entry out.
    fs.refuseRemove = true;
    EXPECT_EQ(list.DeleteCurrent(), 0);
    EXPECT_EQ(State(), "-1: |");
    EXPECT_EQ(fs.removed, (Paths{"C:\\Other\\handed.jpg", kPics + "C.png", kPics + "b.JPG", kPics + "a.jpg"}));
    // Nothing shown: nothing is deleted.
    list.Build(kPics + "a.jpg");
    list.SetCurrent(0, "");
    EXPECT_EQ(list.DeleteCurrent(), -1);
    EXPECT_EQ(fs.removed.size(), 4u);
}

TEST_F(FolderListTest, SortEachKeyBothWaysWithTheIndexFollowingThePath) {
    list.Build(kPics + "b.JPG");
    const struct { uint32_t key; bool ascending; const char* want; } cases[] = {
        {kSortName, true, "1:b.JPG | a.jpg b.JPG C.png"},  // case ignored
        {kSortName, false, "1:b.JPG | C.png b.JPG a.jpg"}, {kSortSize, true, "2:b.JPG | a.jpg C.png b.JPG"},
        {kSortSize, false, "0:b.JPG | b.JPG C.png a.jpg"}, {kSortDate, true, "0:b.JPG | b.JPG C.png a.jpg"},
        {kSortDate, false, "2:b.JPG | a.jpg C.png b.JPG"},
        {5, true, "2:b.JPG | a.jpg C.png b.JPG"},  // an unknown key keeps the order
    };
    for (const auto& c : cases) {
        Sort(c.key, c.ascending);
        EXPECT_EQ(State(), c.want) << c.key << c.ascending;
    }
    // An unlisted current path keeps the index; byte for byte, a different case is not the same path.
    list.SetCurrent(1, "C:\\Elsewhere\\a.jpg");
    Sort(kSortName, true);
    EXPECT_EQ(list.CurrentIndex(), 1);
    list.SetCurrent(0, kPics + "A.JPG");
    Sort(kSortName, false);
    EXPECT_EQ(list.CurrentIndex(), 0);
}

TEST_F(FolderListTest, SortReportsUnreadableFilesDropsThemAndKeepsTheOtherStatuses) {
    fs.AddFile(kPics, "d.jpg", 5, 5);
    fs.unreadable = {kPics + "b.JPG", kPics + "d.jpg"};
    list.Build(kPics + "d.jpg");
    ASSERT_EQ(list.CurrentIndex(), 3);
    VSFileStatus status{0, 0};
    EXPECT_FALSE(list.KnownStatus(kPics + "a.jpg", &status));  // nothing read yet
    std::vector<std::pair<std::string, std::string>> reported;
    int32_t countSeen = -1;
    list.SortList(kSortName, true, [&](const std::string& path, const std::string& error) {
        reported.emplace_back(path, error);
        // Called without the lock held and after the list was replaced.
        countSeen = list.Count();
    });
    const std::string denied = "Access is denied.\r\n";
    EXPECT_EQ(reported, (decltype(reported){{kPics + "b.JPG", denied}, {kPics + "d.jpg", denied}}));
    EXPECT_EQ(countSeen, 2);
    // The current path is no longer listed: the index stays, moved into the list.
    EXPECT_EQ(State(), "1:d.jpg | a.jpg C.png");
    // The statuses read are kept for the thumbnail view.
    ASSERT_TRUE(list.KnownStatus(kPics + "a.jpg", &status));
    EXPECT_EQ(status.created, 3000);
    EXPECT_EQ(status.size, 100u);
    EXPECT_FALSE(list.KnownStatus(kPics + "b.JPG", &status));
}

// The written-out merge sort against a stable sort (strict predicates, so equal names and sizes keep their order) and
// against a stable sort of the reversed records for dates (their predicates hold for equal times, so at every merge the
// later run's element goes first).
TEST(FolderListMergeSort, MatchesAStableSort) {
    const VSSortRecord same{1, 1, "a"};
    for (bool ascending : {true, false})
        EXPECT_TRUE(!SortPredicate(kSortName, ascending, same, same) && !SortPredicate(kSortSize, ascending, same, same) &&
                    SortPredicate(kSortDate, ascending, same, same));
    std::mt19937 random(7);
    for (int round = 0; round < 200; ++round) {
        std::vector<VSSortRecord> records(random() % 70);
        for (VSSortRecord& r : records)
            r = {static_cast<int64_t>(random() % 5), static_cast<uint32_t>(random() % 5),
                 std::string(1, static_cast<char>((random() % 2 ? 'a' : 'A') + random() % 4))};
        for (uint32_t key : {kSortName, kSortSize, kSortDate}) {
            for (bool ascending : {true, false}) {
                std::vector<VSSortRecord> ours = records, want = records;
                SortRecords(&ours, key, ascending);
                if (key == kSortDate) std::reverse(want.begin(), want.end());
                std::stable_sort(want.begin(), want.end(), [&](const VSSortRecord& a, const VSSortRecord& b) {
                    if (key != kSortDate) return SortPredicate(key, ascending, a, b);
                    return ascending ? a.created < b.created : a.created > b.created;
                });
                ASSERT_TRUE(std::equal(ours.begin(), ours.end(), want.begin(), want.end(), [](auto& a, auto& b) {
                    return a.path == b.path && a.size == b.size && a.created == b.created;
                })) << "key " << key << " ascending " << ascending << " n " << records.size();
            }
        }
    }
}

TEST_F(FolderListTest, RebuildDuringASortIsNeverUndone) {
    // The user-interface thread rebuilds while the worker reads file
    // statuses; the sort must not bring back the list that was replaced.
    for (const char* name : {"z.bmp", "y.bmp"}) fs.AddFile("C:\\Other\\", name, 1, 1);
    list.Build(kPics + "a.jpg");
    int rebuilds = 0;
    fs.beforeStatus = [&] { if (rebuilds++ == 0) list.Build("C:\\Other\\z.bmp"); };
    Sort(kSortName, true);
    EXPECT_EQ(State(), "1:C:\\Other\\z.bmp | C:\\Other\\y.bmp C:\\Other\\z.bmp");
}

TEST_F(FolderListTest, GenerationMovesWithTheEntriesAndTheirOrderOnly) {
    uint64_t seen = list.Generation();
    // Each step: whether the entries or their order changed.
    const std::pair<std::function<void()>, bool> steps[] = {
        {[&] { list.Build(kPics + "a.jpg"); }, true},
        {[&] { Sort(kSortName, true); }, true},      // b, a, C becomes a, b, C
        {[&] { Sort(kSortName, true); }, false},     // already in that order
        {[&] { list.Next(); }, false}, {[&] { Sort(kSortSize, false); }, true},
        {[&] { list.Append(kPics + "d.jpg"); }, true}, {[&] { list.DeleteCurrent(); }, true},
        {[&] { list.SetCurrent(0, list.At(0)); }, false}};
    for (size_t i = 0; i < sizeof steps / sizeof steps[0]; ++i) {
        steps[i].first();
        EXPECT_EQ(list.Generation() != seen, steps[i].second) << "step " << i << ": " << State();
        seen = list.Generation();
    }
}

TEST_F(FolderListTest, SelectListedKeepsAnUnchangedFolderOnly) {
    list.Build(kPics + "a.jpg");
    Sort(kSortSize, false);
    const uint64_t generation = list.Generation();
    // Another case of a listed name: that entry, in the sorted order.
    ASSERT_TRUE(list.SelectListed(kPics + "c.PNG"));
    EXPECT_EQ(State(), "1:C.png | b.JPG C.png a.jpg");
    EXPECT_EQ(list.Generation(), generation);
    // Not listed, another folder, or the folder changed: nothing moves.
    fs.AddFile("C:\\Other\\", "a.jpg");
    EXPECT_FALSE(list.SelectListed(kPics + "notes.txt"));
    EXPECT_FALSE(list.SelectListed("C:\\Other\\a.jpg"));
    fs.folders[kPics].erase(fs.folders[kPics].begin());
    fs.AddFile(kPics, "e.jpg");
    EXPECT_FALSE(list.SelectListed(kPics + "a.jpg"));
    EXPECT_EQ(State(), "1:C.png | b.JPG C.png a.jpg");
    EXPECT_EQ(list.Generation(), generation);
}
