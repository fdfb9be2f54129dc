// Preloaded into a benchmark (LD_PRELOAD) to make it run on a slow disk: every fsync and
// fdatasync of a file or folder whose path contains DRAVONELLE_SLOW_SYNC_UNDER (default
// "/drive_c") first waits DRAVONELLE_SLOW_SYNC_MS milliseconds, as a busy SD card does
// when it puts a file down.
#include <dlfcn.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

void MaybeWait(int fd) {
    const char* ms = std::getenv("DRAVONELLE_SLOW_SYNC_MS");
    if (ms == nullptr) {
        return;
    }
    const char* under = std::getenv("DRAVONELLE_SLOW_SYNC_UNDER");
    char link[64];
    char path[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = ::readlink(link, path, sizeof path - 1);
    if (n <= 0) {
        return;
    }
    path[n] = '\0';
    if (std::strstr(path, under ? under : "/drive_c") != nullptr) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(ms)));
    }
}

template <typename Call>
Call Next(const char* name) {
    return reinterpret_cast<Call>(::dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" {

int fsync(int fd) {
    static const auto real = Next<int (*)(int)>("fsync");
    MaybeWait(fd);
    return real(fd);
}

int fdatasync(int fd) {
    static const auto real = Next<int (*)(int)>("fdatasync");
    MaybeWait(fd);
    return real(fd);
}

}  // extern "C"
