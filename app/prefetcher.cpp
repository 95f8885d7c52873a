// The neighbours' decoding worker.
#include "app/prefetcher.h"

#include "browse/win/winfs.h"

Prefetcher::Prefetcher(VSPrefetchCache& cache) : cache_(cache) {
    wake_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (wake_) thread_ = CreateThread(nullptr, 0, &Prefetcher::Run, this, 0, nullptr);
    // Work ahead gives way to the picture the user asked for.
    if (thread_) SetThreadPriority(thread_, THREAD_PRIORITY_BELOW_NORMAL);
}

Prefetcher::~Prefetcher() {
    Stop();
    if (wake_) CloseHandle(wake_);
}

void Prefetcher::Request(std::vector<std::string> paths, const VSRenderKey& key, uint64_t generation) {
    if (!thread_) return;
    std::unique_ptr<Job> job(new Job{std::move(paths), key, generation});
    {
        std::lock_guard<std::mutex> lock(lock_);
        pending_ = std::move(job);
    }
    SetEvent(wake_);
}

void Prefetcher::Stop() {
    if (!thread_) return;
    {
        std::lock_guard<std::mutex> lock(lock_);
        quit_ = true;
        pending_.reset();
    }
    SetEvent(wake_);
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    thread_ = nullptr;
}

DWORD WINAPI Prefetcher::Run(LPVOID self) {
    static_cast<Prefetcher*>(self)->Work();
    return 0;
}

std::unique_ptr<Prefetcher::Job> Prefetcher::NextJob() {
    std::lock_guard<std::mutex> lock(lock_);
    if (quit_) return nullptr;
    return std::move(pending_);
}

bool Prefetcher::Interrupted() {
    std::lock_guard<std::mutex> lock(lock_);
    return quit_ || pending_ != nullptr;
}

void Prefetcher::Work() {
    VSWinFileSystem fs;
    QuietLoaderHost host;
    ImageLoader loader(host);
    while (WaitForSingleObject(wake_, INFINITE) == WAIT_OBJECT_0) {
        std::unique_ptr<Job> job = NextJob();
        if (!job) {
            std::lock_guard<std::mutex> lock(lock_);
            if (quit_) return;
            continue;
        }
        for (const std::string& path : job->paths) {
            // A newer request, or a list that changed, makes the rest moot.
            if (Interrupted() || cache_.Generation() != job->generation) break;
            if (cache_.Holds(path)) continue;
            // A picture the cache could not keep is not worth the work.
            const uint64_t bytes = DecodedBytes(path, host.ScreenSize());
            if (bytes == 0 || bytes > kPrefetchBudgetBytes) continue;
            VSDecodedPicture picture;
            if (!ReadDecodedPicture(loader, fs, path, &picture)) continue;
            picture.RenderFor(job->key);
            cache_.Put(std::move(picture), job->generation);
        }
        // A request that came while working is served at once.
        if (Interrupted()) SetEvent(wake_);
    }
}
