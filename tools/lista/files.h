// The file operations whose failures lista reports with the system's own
// reason ("No space left on device", "Permission denied"), on Linux and on
// Windows alike. Each returns false and sets why on failure.
#pragma once
#include <cstddef>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

struct File {
    int fd = -1;
};

bool OpenRead(const fs::path &path, File &f, std::string &why);
bool Create(const fs::path &path, File &f, std::string &why);  // created or emptied
// Bytes read (0 at the end), or -1 with why.
long long ReadSome(File &f, void *buf, size_t n, std::string &why);
bool WriteAll(File &f, const void *buf, size_t n, std::string &why);
bool Close(File &f, std::string &why);  // also reports a write the system deferred

// Whole small files: at most cap bytes are read (a caller that passes one
// more than it accepts sees a file that is too long).
bool ReadSmall(const fs::path &path, size_t cap, std::string &text, std::string &why);
bool WriteSmall(const fs::path &path, const std::string &text, std::string &why);

// A second name for an existing file (a hard link); false where the file
// system has none.
bool Link(const fs::path &existing, const fs::path &link, std::string &why);
// Renames from to to, replacing a file at to in one step.
bool Replace(const fs::path &from, const fs::path &to, std::string &why);
bool Remove(const fs::path &path, std::string &why);

// One run at a time per site: an exclusive lock held until UnlockSite or the
// process ends, however it ends. A run that finds the site locked says so
// and waits for it.
bool LockSite(const fs::path &site, std::string &why);
void UnlockSite();

// True when a file's access bits let others than its owner read it (Linux;
// always false on Windows, whose key files lista makes owner-only).
bool OthersCanRead(const fs::path &path);
