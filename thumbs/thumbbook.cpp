// The thumbnail view's records.
#include "thumbs/thumbbook.h"

#include "browse/paths.h"

#include <utility>

namespace {

constexpr uint32_t kSortName = 17, kSortDate = 18, kSortSize = 19;

constexpr uint32_t kSlotBits = 20;
constexpr uint32_t kGenerationMask = 0xFFF;

uint32_t GenerationOf(uint32_t key) { return key >> kSlotBits; }
uint32_t SlotOf(uint32_t key) { return key & ((1u << kSlotBits) - 1); }

}  // namespace

uint32_t VSThumbBook::Add(int64_t created, uint64_t size, const std::string& path) {
    if (records_.size() >= kBookCapacity) return 0;
    std::unique_ptr<CFileItem> item(new CFileItem);
    item->created = created;
    item->size = size;
    item->path = path.size() > kFileItemPathMax ? path.substr(0, kFileItemPathMax) : path;
    records_.push_back(std::move(item));
    // Slot numbers start at 1, so no key is 0.
    return (generation_ << kSlotBits) | static_cast<uint32_t>(records_.size());
}

CFileItem* VSThumbBook::Find(uint32_t key) {
    const uint32_t slot = SlotOf(key);
    if (GenerationOf(key) != generation_ || slot == 0 || slot > records_.size()) return nullptr;
    return records_[slot - 1].get();
}

const CFileItem* VSThumbBook::Find(uint32_t key) const { return const_cast<VSThumbBook*>(this)->Find(key); }

void VSThumbBook::Release() {
    records_.clear();
    records_.shrink_to_fit();
    // Zero never names a generation.
    generation_ = (generation_ + 1) & kGenerationMask;
    if (generation_ == 0) generation_ = 1;
}

int32_t CompareFileItems(uint32_t key, bool ascending, const CFileItem* a, const CFileItem* b) {
    if (!a || !b) return 0;
    if (!ascending) std::swap(a, b);
    switch (key) {
    case kSortName: return CompareNoCase(a->path, b->path);
    case kSortDate: return a->created < b->created ? -1 : a->created > b->created ? 1 : 0;
    case kSortSize:
        return static_cast<int32_t>(static_cast<uint32_t>(a->size) - static_cast<uint32_t>(b->size));
    default: return 0;
    }
}

uint32_t RunThumbnailPass(const std::vector<VSThumbJob>& jobs, const VSThumbPassHooks& hooks) {
    uint32_t done = 0;
    for (const VSThumbJob& job : jobs) {
        if (hooks.quit && hooks.quit()) break;
        const int32_t image = hooks.makeAndAppend ? hooks.makeAndAppend(job.path) : -1;
        // Only a thumbnail that exists is attached, to its own record.
        if (image >= 0 && hooks.attach) hooks.attach(job.key, image);
        ++done;
    }
    return done;
}
