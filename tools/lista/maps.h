// Chunk maps of the files lista publishes ("update/maps/<md5>.map", in the
// format of update/chunkmap.h): with one, a launcher that has an older copy of
// a large file fetches only the chunks it lacks. A map is named by its file's
// MD5, so it never changes once written; each release writes the maps its
// files lack, in the same all-or-nothing publish as the files.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "walk.h"

namespace fs = std::filesystem;

// Chunk maps of files from the pieces of their one read, made on a thread of
// its own: cutting and hashing the chunks costs the read, which hashes and
// copies the files, no time while a second core is free. The thread may lag
// behind the read by up to a few MiB, across files.
class MapMaker {
public:
    MapMaker();
    ~MapMaker();
    MapMaker(const MapMaker &) = delete;
    MapMaker &operator=(const MapMaker &) = delete;
    // The next file: its map goes to *map (left empty when hashing fails).
    void Begin(std::string *map);
    void Feed(const void *data, size_t n);  // its next bytes
    void End(const std::string &md5);       // its MD5 (lowercase hex); "" when its read failed
    void Wait();                            // until every map begun is made

private:
    struct File {
        std::string *map = nullptr;
        uint64_t fed = 0, taken = 0;
        bool ended = false;
        std::string md5;
    };
    static long Pull(void *self, unsigned char *to, size_t n);
    void Run();

    std::mutex mu_;
    std::condition_variable cv_;
    std::vector<char> ring_;  // the bytes fed and not yet cut, from head_ on
    size_t head_ = 0, queued_ = 0;
    std::deque<File> files_;  // begun and not yet made, in order
    bool quit_ = false;
    std::thread worker_;
};

// The size of --map-min into out: bytes, or KiB, MiB or GiB with K, M or G
// behind; 0 or at least MapMinLeast. False after a message.
bool ParseMapMin(const std::string &text, uint64_t &out);

// The map's path in the site for the file of MD5 md5.
fs::path MapPath(const fs::path &site, const std::string &md5);

// What is wrong with the bytes of a map that should be that of the file
// md5/size: "" when nothing is.
std::string MapProblem(const std::string &map, const std::string &md5, uint64_t size);

// Stages the map of every entry of mapMin bytes or more whose map the site
// lacks (or holds damaged): the one made in its read (e.map), or one made now
// from a new read that must give the listed MD5. made counts them. False
// after a message when staging must stop.
bool StageMaps(std::vector<Entry> &entries, const fs::path &site, uint64_t mapMin, size_t &made);
