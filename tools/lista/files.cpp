#include "files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <sys/file.h>
#include <unistd.h>
#endif

#include "report.h"

namespace {

bool Failed(std::string &why) {
    why = Reason(errno);
    return false;
}

#ifdef _WIN32
bool WinFailed(std::string &why) {
    DWORD e = GetLastError();
    char text[256];
    if (FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, e, 0, text, sizeof text,
                       nullptr)) {
        why = text;
        while (!why.empty() && (why.back() == '\n' || why.back() == '\r' || why.back() == '.')) why.pop_back();
    } else {
        why = "error " + std::to_string(e);
    }
    return false;
}

HANDLE Lock = INVALID_HANDLE_VALUE;
#else
int Lock = -1;
#endif

}  // namespace

#ifdef _WIN32
bool OpenRead(const fs::path &path, File &f, std::string &why) {
    f.fd = _wopen(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    return f.fd >= 0 || Failed(why);
}

bool Create(const fs::path &path, File &f, std::string &why) {
    f.fd = _wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
    return f.fd >= 0 || Failed(why);
}

bool Link(const fs::path &existing, const fs::path &link, std::string &why) {
    return CreateHardLinkW(link.c_str(), existing.c_str(), nullptr) || WinFailed(why);
}

bool Replace(const fs::path &from, const fs::path &to, std::string &why) {
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) || WinFailed(why);
}

bool Remove(const fs::path &path, std::string &why) {
    return DeleteFileW(path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND || WinFailed(why);
}

// A lock file that goes with the handle: Windows deletes it when the process
// ends, however it ends, and nobody else may open it meanwhile.
bool LockSite(const fs::path &site, std::string &why) {
    fs::path path = site / "lista.lock";
    bool told = false;
    for (;;) {
        Lock = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (Lock != INVALID_HANDLE_VALUE) return true;
        DWORD e = GetLastError();
        // Held, or still being deleted by the run that just ended.
        if (e != ERROR_SHARING_VIOLATION && e != ERROR_ACCESS_DENIED) return WinFailed(why);
        if (!told) fprintf(stderr, "lista: another lista is publishing to %s; waiting for it to end\n", Utf8(site).c_str());
        told = true;
        Sleep(200);
    }
}

void UnlockSite() {
    if (Lock != INVALID_HANDLE_VALUE) CloseHandle(Lock);
    Lock = INVALID_HANDLE_VALUE;
}

bool OthersCanRead(const fs::path &) { return false; }
#else
bool OpenRead(const fs::path &path, File &f, std::string &why) {
    f.fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    return f.fd >= 0 || Failed(why);
}

bool Create(const fs::path &path, File &f, std::string &why) {
    f.fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    return f.fd >= 0 || Failed(why);
}

bool Link(const fs::path &existing, const fs::path &name, std::string &why) {
    return link(existing.c_str(), name.c_str()) == 0 || Failed(why);
}

bool Replace(const fs::path &from, const fs::path &to, std::string &why) {
    return rename(from.c_str(), to.c_str()) == 0 || Failed(why);
}

bool Remove(const fs::path &path, std::string &why) {
    return unlink(path.c_str()) == 0 || errno == ENOENT || Failed(why);
}

// flock on the site folder itself: nothing is created in it, and the kernel
// lets go when the process ends, however it ends.
bool LockSite(const fs::path &site, std::string &why) {
    Lock = open(site.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (Lock < 0) return Failed(why);
    if (flock(Lock, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno != EWOULDBLOCK) return Failed(why);
    fprintf(stderr, "lista: another lista is publishing to %s; waiting for it to end\n", site.c_str());
    while (flock(Lock, LOCK_EX) != 0)
        if (errno != EINTR) return Failed(why);
    return true;
}

void UnlockSite() {
    if (Lock >= 0) close(Lock);
    Lock = -1;
}

bool OthersCanRead(const fs::path &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && (st.st_mode & 044);
}
#endif

// The C library's descriptors on both systems (MSVCRT's on Windows, which
// sets errno from the system's error as POSIX does).
#ifdef _WIN32
static long long RawRead(int fd, void *buf, size_t n) { return _read(fd, buf, (unsigned)n); }
static long long RawWrite(int fd, const void *buf, size_t n) { return _write(fd, buf, (unsigned)n); }
static int RawClose(int fd) { return _close(fd); }
#else
static long long RawRead(int fd, void *buf, size_t n) { return read(fd, buf, n); }
static long long RawWrite(int fd, const void *buf, size_t n) { return write(fd, buf, n); }
static int RawClose(int fd) { return close(fd); }
#endif

long long ReadSome(File &f, void *buf, size_t n, std::string &why) {
    long long got;
    do got = RawRead(f.fd, buf, n);
    while (got < 0 && errno == EINTR);
    if (got < 0) Failed(why);
    return got;
}

bool WriteAll(File &f, const void *buf, size_t n, std::string &why) {
    for (const char *p = (const char *)buf; n;) {
        long long put = RawWrite(f.fd, p, n);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return Failed(why);
        p += put;
        n -= (size_t)put;
    }
    return true;
}

bool Close(File &f, std::string &why) {
    int fd = f.fd;
    f.fd = -1;
    return fd < 0 || RawClose(fd) == 0 || Failed(why);
}

bool ReadSmall(const fs::path &path, size_t cap, std::string &text, std::string &why) {
    File f;
    if (!OpenRead(path, f, why)) return false;
    text.clear();
    char buf[4096];
    long long n = 0;
    while (text.size() < cap && (n = ReadSome(f, buf, std::min(sizeof buf, cap - text.size()), why)) > 0)
        text.append(buf, (size_t)n);
    std::string ignored;
    Close(f, ignored);
    return n >= 0;
}

bool WriteSmall(const fs::path &path, const std::string &text, std::string &why) {
    File f;
    if (!Create(path, f, why)) return false;
    bool ok = WriteAll(f, text.data(), text.size(), why);
    std::string closing;
    if (!Close(f, closing) && ok) {
        why = closing;
        ok = false;
    }
    return ok;
}
