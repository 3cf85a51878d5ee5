// Reading the client: each file is hashed, and copied to the site's staging
// area in the same read when the site does not already serve its bytes.
#pragma once
#include <filesystem>
#include <vector>

#include "publish.h"
#include "walk.h"

// Hashes every entry (setting md5 and size from the bytes read). With files
// set (the site's update/files), stages a copy of each file whose bytes the
// site does not serve as served lists them; an unchanged file is read once
// and not copied. Problems are reported; false when staging must stop (the
// site's disk full or unwritable, or a folder in the way). copied counts the
// files staged.
bool ReadClient(std::vector<Entry> &entries, const fs::path &files, const Served &served, size_t &copied);

// The MD5 of a file, or "" when it cannot be read.
std::string FileMd5(const fs::path &path);
