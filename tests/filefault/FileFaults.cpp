// The hooks below replace libc's own entry points in this binary only. No header that declares
// them is included here: with large-file support on, those headers rename `open` to `open64`,
// `ftruncate` to `ftruncate64` and so on, which would make the two forms one symbol.
#include "FileFaults.h"

#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <string.h>
#include <sys/types.h>

#include <mutex>
#include <unordered_set>

extern "C" ssize_t readlink(const char* path, char* buffer, size_t size);
extern "C" char* getcwd(char* buffer, size_t size);

namespace {

constexpr int atCurrentFolder = -100; // AT_FDCWD
constexpr int createFlag = 0100; // O_CREAT
constexpr int temporaryFlag = 020000000; // part of O_TMPFILE

struct State {
    std::mutex mutex;
    bool armed = false;
    std::string folder;
    filefault::Mode mode = filefault::Mode::count;
    int at = 0;
    int error = 0;
    int counted = 0;
    std::unordered_set<int> fds;
    std::vector<std::string> log;
};

State& state()
{
    static auto* s = new State;
    return *s;
}

// Set while a hook runs, so that what it calls itself is never counted.
thread_local bool t_inHook = false;

std::string folderOf(int fd)
{
    if (fd == atCurrentFolder) {
        char buffer[4096];
        return getcwd(buffer, sizeof buffer) ? std::string(buffer) : std::string();
    }
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    char buffer[4096];
    const ssize_t length = readlink(link.c_str(), buffer, sizeof buffer - 1);
    return length > 0 ? std::string(buffer, size_t(length)) : std::string();
}

bool isUnder(const std::string& path, const std::string& folder)
{
    return path.size() >= folder.size() && path.compare(0, folder.size(), folder) == 0
        && (path.size() == folder.size() || path[folder.size()] == '/');
}

enum class Verdict { pass, fail };

// Counts one call when it touches the folder; whether it must fail.
Verdict decide(const char* name, int dirFd, const char* path, int fd = -1)
{
    if (t_inHook)
        return Verdict::pass;
    t_inHook = true;
    State& s = state();
    std::lock_guard lock(s.mutex);
    Verdict verdict = Verdict::pass;
    if (s.armed) {
        bool under = false;
        std::string full;
        if (path) {
            full = path[0] == '/' ? std::string(path) : folderOf(dirFd) + "/" + path;
            under = isUnder(full, s.folder);
        } else {
            under = s.fds.count(fd) != 0;
            full = "fd " + std::to_string(fd);
        }
        if (under) {
            const int number = ++s.counted;
            const bool fails = (s.mode == filefault::Mode::failOne && number == s.at)
                || (s.mode == filefault::Mode::failFrom && number >= s.at);
            s.log.push_back(std::to_string(number) + " " + name + " " + full + (fails ? " FAILS" : ""));
            if (fails) {
                verdict = Verdict::fail;
                errno = s.error;
            }
        }
    }
    t_inHook = false;
    return verdict;
}

void opened(int fd, int dirFd, const char* path)
{
    if (fd < 0 || t_inHook)
        return;
    State& s = state();
    std::lock_guard lock(s.mutex);
    if (!s.armed)
        return;
    const std::string full = path[0] == '/' ? std::string(path) : folderOf(dirFd) + "/" + path;
    if (isUnder(full, s.folder))
        s.fds.insert(fd);
}

void closed(int fd)
{
    State& s = state();
    std::lock_guard lock(s.mutex);
    s.fds.erase(fd);
}

template<typename F> F real(const char* name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

int failed()
{
    return -1; // errno was set by `decide`
}

} // namespace

namespace filefault {

void arm(const QByteArray& folder, Mode mode, int at, int error)
{
    State& s = state();
    std::lock_guard lock(s.mutex);
    s.armed = true;
    s.folder = folder.toStdString();
    s.mode = mode;
    s.at = at;
    s.error = error;
    s.counted = 0;
    s.fds.clear();
    s.log.clear();
}

int disarm()
{
    State& s = state();
    std::lock_guard lock(s.mutex);
    s.armed = false;
    return s.counted;
}

std::vector<std::string> calls()
{
    State& s = state();
    std::lock_guard lock(s.mutex);
    return s.log;
}

} // namespace filefault

#define MODE_ARGUMENT(flags)                                                                                 \
    mode_t mode = 0;                                                                                         \
    if ((flags) & (createFlag | temporaryFlag)) {                                                            \
        va_list arguments;                                                                                   \
        va_start(arguments, flags);                                                                          \
        mode = va_arg(arguments, mode_t);                                                                    \
        va_end(arguments);                                                                                   \
    }

#define OPEN_HOOK(NAME)                                                                                      \
    extern "C" int NAME(const char* path, int flags, ...)                                                    \
    {                                                                                                        \
        MODE_ARGUMENT(flags)                                                                                 \
        if (decide(#NAME, atCurrentFolder, path) == Verdict::fail)                                           \
            return failed();                                                                                 \
        static auto next = real<int (*)(const char*, int, ...)>(#NAME);                                      \
        const int fd = next(path, flags, mode);                                                              \
        opened(fd, atCurrentFolder, path);                                                                   \
        return fd;                                                                                           \
    }
OPEN_HOOK(open)
OPEN_HOOK(open64)

#define OPENAT_HOOK(NAME)                                                                                    \
    extern "C" int NAME(int dirFd, const char* path, int flags, ...)                                         \
    {                                                                                                        \
        MODE_ARGUMENT(flags)                                                                                 \
        if (decide(#NAME, dirFd, path) == Verdict::fail)                                                     \
            return failed();                                                                                 \
        static auto next = real<int (*)(int, const char*, int, ...)>(#NAME);                                 \
        const int fd = next(dirFd, path, flags, mode);                                                       \
        opened(fd, dirFd, path);                                                                             \
        return fd;                                                                                           \
    }
OPENAT_HOOK(openat)
OPENAT_HOOK(openat64)

// The checked forms a fortified build calls when the flags are not known at compile time.
#define OPEN2_HOOK(NAME)                                                                                     \
    extern "C" int NAME(const char* path, int flags)                                                         \
    {                                                                                                        \
        if (decide(#NAME, atCurrentFolder, path) == Verdict::fail)                                           \
            return failed();                                                                                 \
        static auto next = real<int (*)(const char*, int)>(#NAME);                                           \
        const int fd = next(path, flags);                                                                    \
        opened(fd, atCurrentFolder, path);                                                                   \
        return fd;                                                                                           \
    }
OPEN2_HOOK(__open_2)
OPEN2_HOOK(__open64_2)

#define OPENAT2_HOOK(NAME)                                                                                   \
    extern "C" int NAME(int dirFd, const char* path, int flags)                                              \
    {                                                                                                        \
        if (decide(#NAME, dirFd, path) == Verdict::fail)                                                     \
            return failed();                                                                                 \
        static auto next = real<int (*)(int, const char*, int)>(#NAME);                                      \
        const int fd = next(dirFd, path, flags);                                                             \
        opened(fd, dirFd, path);                                                                             \
        return fd;                                                                                           \
    }
OPENAT2_HOOK(__openat_2)
OPENAT2_HOOK(__openat64_2)

extern "C" ssize_t write(int fd, const void* buffer, size_t size)
{
    if (decide("write", 0, nullptr, fd) == Verdict::fail)
        return failed();
    static auto next = real<ssize_t (*)(int, const void*, size_t)>("write");
    return next(fd, buffer, size);
}

struct iovec;
extern "C" ssize_t writev(int fd, const struct iovec* vector, int count)
{
    if (decide("writev", 0, nullptr, fd) == Verdict::fail)
        return failed();
    static auto next = real<ssize_t (*)(int, const struct iovec*, int)>("writev");
    return next(fd, vector, count);
}

#define PWRITE_HOOK(NAME)                                                                                    \
    extern "C" ssize_t NAME(int fd, const void* buffer, size_t size, long offset)                            \
    {                                                                                                        \
        if (decide(#NAME, 0, nullptr, fd) == Verdict::fail)                                                  \
            return failed();                                                                                 \
        static auto next = real<ssize_t (*)(int, const void*, size_t, long)>(#NAME);                         \
        return next(fd, buffer, size, offset);                                                               \
    }
PWRITE_HOOK(pwrite)
PWRITE_HOOK(pwrite64)

#define FD_HOOK(NAME)                                                                                        \
    extern "C" int NAME(int fd)                                                                              \
    {                                                                                                        \
        if (decide(#NAME, 0, nullptr, fd) == Verdict::fail)                                                  \
            return failed();                                                                                 \
        static auto next = real<int (*)(int)>(#NAME);                                                        \
        return next(fd);                                                                                     \
    }
FD_HOOK(fsync)
FD_HOOK(fdatasync)

#define FTRUNCATE_HOOK(NAME)                                                                                 \
    extern "C" int NAME(int fd, long length)                                                                 \
    {                                                                                                        \
        if (decide(#NAME, 0, nullptr, fd) == Verdict::fail)                                                  \
            return failed();                                                                                 \
        static auto next = real<int (*)(int, long)>(#NAME);                                                  \
        return next(fd, length);                                                                             \
    }
FTRUNCATE_HOOK(ftruncate)
FTRUNCATE_HOOK(ftruncate64)

// The descriptor is closed whatever happens, as the kernel does when close fails.
extern "C" int close(int fd)
{
    const Verdict verdict = decide("close", 0, nullptr, fd);
    const int saved = errno;
    static auto next = real<int (*)(int)>("close");
    closed(fd);
    const int result = next(fd);
    if (verdict == Verdict::fail) {
        errno = saved;
        return -1;
    }
    return result;
}

extern "C" int rename(const char* from, const char* to)
{
    if (decide("rename", atCurrentFolder, from) == Verdict::fail)
        return failed();
    static auto next = real<int (*)(const char*, const char*)>("rename");
    return next(from, to);
}

extern "C" int renameat(int fromFd, const char* from, int toFd, const char* to)
{
    if (decide("renameat", fromFd, from) == Verdict::fail)
        return failed();
    static auto next = real<int (*)(int, const char*, int, const char*)>("renameat");
    return next(fromFd, from, toFd, to);
}

extern "C" int renameat2(int fromFd, const char* from, int toFd, const char* to, unsigned flags)
{
    if (decide("renameat2", fromFd, from) == Verdict::fail)
        return failed();
    static auto next = real<int (*)(int, const char*, int, const char*, unsigned)>("renameat2");
    return next(fromFd, from, toFd, to, flags);
}

extern "C" int mkdir(const char* path, mode_t mode)
{
    if (decide("mkdir", atCurrentFolder, path) == Verdict::fail)
        return failed();
    static auto next = real<int (*)(const char*, mode_t)>("mkdir");
    return next(path, mode);
}

extern "C" int mkdirat(int dirFd, const char* path, mode_t mode)
{
    if (decide("mkdirat", dirFd, path) == Verdict::fail)
        return failed();
    static auto next = real<int (*)(int, const char*, mode_t)>("mkdirat");
    return next(dirFd, path, mode);
}

#define PATH_HOOK(NAME)                                                                                      \
    extern "C" int NAME(const char* path)                                                                    \
    {                                                                                                        \
        if (decide(#NAME, atCurrentFolder, path) == Verdict::fail)                                           \
            return failed();                                                                                 \
        static auto next = real<int (*)(const char*)>(#NAME);                                                \
        return next(path);                                                                                   \
    }
PATH_HOOK(unlink)
PATH_HOOK(rmdir)
PATH_HOOK(remove)

extern "C" int unlinkat(int dirFd, const char* path, int flags)
{
    if (decide("unlinkat", dirFd, path) == Verdict::fail)
        return failed();
    static auto next = real<int (*)(int, const char*, int)>("unlinkat");
    return next(dirFd, path, flags);
}
