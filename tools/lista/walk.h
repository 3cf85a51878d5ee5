// Gathering a release: every file below the client folder, named by its path
// inside the client, checked against what launchers and Windows accept.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

struct Entry {
    std::string name;  // relative to the client, UTF-8, '/' between folders
    fs::path path;     // where its bytes are read: a link reads its target
    uintmax_t size = 0;
    std::string md5;   // set once the file is read
};

// True when path is folder or lies somewhere below it, however either is
// spelt: compared by identity (the same file system object), so another
// letter case, a symlink, a junction or a subst drive do not hide it.
bool Inside(const fs::path &path, const fs::path &folder);

// Walks client (following links, each file listed under the link's name),
// reports every problem and returns the listable files in byte order of
// their names. site (if any) and keyfile (if any) must not be reached by the
// walk. False when a folder or file could not be read: a partial walk would
// be a partial release.
bool Collect(const fs::path &client, const fs::path &site, const fs::path &keyfile, std::vector<Entry> &out);
