// Chunk maps of the files lista publishes ("update/maps/<md5>.map"; the format
// is update/chunkmap.h's), from which launchers with an older copy of a
// large file fetch only the chunks they lack.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>

// Files from this size on get a map unless told otherwise (--map-min).
const uint64_t MapMinDefault = 4 << 20;

// The map's path in the site for the file of MD5 md5 (lowercase hex).
std::filesystem::path MapPath(const std::filesystem::path &site, const std::string &md5);

// The map of the file at path, whose MD5 is md5 and size size as listed, into
// map. False, with a line on stderr naming name, when the file cannot be read
// or no longer has that size.
bool MakeMap(const std::filesystem::path &path, const std::string &name, const std::string &md5, uint64_t size,
             std::string &map);

// What is wrong with the bytes of a map that should be that of the file
// md5/size: "" when nothing is.
std::string MapProblem(const std::string &map, const std::string &md5, uint64_t size);
