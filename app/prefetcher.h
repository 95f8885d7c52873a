// The worker that decodes the shown picture's neighbours ahead of the
// user's steps, into the window's prefetch cache.
#ifndef VS_APP_PREFETCHER_H
#define VS_APP_PREFETCHER_H

#include <windows.h>

#include "browse/prefetch.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

class Prefetcher {
public:
    explicit Prefetcher(VSPrefetchCache& cache);
    ~Prefetcher();
    Prefetcher(const Prefetcher&) = delete;
    Prefetcher& operator=(const Prefetcher&) = delete;

    // Decodes these paths in order and renders them for key, for the
    // cache's generation; a newer request replaces one not yet done.
    void Request(std::vector<std::string> paths, const VSRenderKey& key, uint64_t generation);
    // Ends the worker after the file it is on.
    void Stop();

private:
    struct Job {
        std::vector<std::string> paths;
        VSRenderKey key;
        uint64_t generation = 0;
    };
    static DWORD WINAPI Run(LPVOID self);
    void Work();
    // The waiting job, or null when there is none or the worker must end.
    std::unique_ptr<Job> NextJob();
    bool Interrupted();

    VSPrefetchCache& cache_;
    std::mutex lock_;
    std::unique_ptr<Job> pending_;
    bool quit_ = false;
    HANDLE wake_ = nullptr;
    HANDLE thread_ = nullptr;
};

#endif
