#include "maps.h"

#include <cstdio>
#include <algorithm>
#include <cstring>

#include "crypto.h"
#include "files.h"
#include "limits.h"
#include "publish.h"
#include "report.h"
#include "update/chunker.h"
#include "update/chunkmap.h"

namespace {

int Md5Of(const void *data, size_t n, unsigned char out[16]) {
    Md5 h;
    h.Update(data, n);
    return Md5Bytes(h.HexDigest().c_str(), out);
}

// Bytes waiting for the map's thread, at most: the read never runs further
// ahead than this.
const size_t QueueMax = 8 << 20;

}  // namespace

MapMaker::MapMaker() : ring_(QueueMax), worker_(&MapMaker::Run, this) {}

MapMaker::~MapMaker() {
    {
        std::lock_guard<std::mutex> g(mu_);
        quit_ = true;
        for (File &f : files_) f.ended = true;
    }
    cv_.notify_all();
    worker_.join();
}

void MapMaker::Begin(std::string *map) {
    std::lock_guard<std::mutex> g(mu_);
    map->clear();
    files_.emplace_back();
    files_.back().map = map;
    cv_.notify_all();
}

void MapMaker::Feed(const void *data, size_t n) {
    const char *p = (const char *)data;
    while (n) {
        std::unique_lock<std::mutex> g(mu_);
        cv_.wait(g, [&] { return queued_ < QueueMax; });
        size_t tail = (head_ + queued_) % QueueMax;
        size_t take = std::min({n, QueueMax - queued_, QueueMax - tail});
        g.unlock();
        // Only this thread writes past the queued bytes.
        memcpy(&ring_[tail], p, take);
        g.lock();
        queued_ += take;
        files_.back().fed += take;
        p += take;
        n -= take;
        cv_.notify_all();
    }
}

void MapMaker::End(const std::string &md5) {
    std::lock_guard<std::mutex> g(mu_);
    files_.back().ended = true;
    files_.back().md5 = md5;
    cv_.notify_all();
}

void MapMaker::Wait() {
    std::unique_lock<std::mutex> g(mu_);
    cv_.wait(g, [&] { return files_.empty(); });
}

// The bytes of the file being cut, as they come; 0 at its end.
long MapMaker::Pull(void *self, unsigned char *to, size_t n) {
    MapMaker &m = *(MapMaker *)self;
    std::unique_lock<std::mutex> g(m.mu_);
    File &f = m.files_.front();
    m.cv_.wait(g, [&] { return f.fed > f.taken || f.ended; });
    size_t take = (size_t)std::min<uint64_t>({n, f.fed - f.taken, QueueMax - m.head_});
    g.unlock();
    // Only this thread reads the queued bytes.
    memcpy(to, &m.ring_[m.head_], take);
    g.lock();
    m.head_ = (m.head_ + take) % QueueMax;
    m.queued_ -= take;
    f.taken += take;
    m.cv_.notify_all();
    return (long)take;
}

void MapMaker::Run() {
    // A large buffer: each refill moves the uncut tail (up to ChunkMax) to its front.
    std::vector<unsigned char> buf(16 * ChunkMax);
    for (;;) {
        {
            std::unique_lock<std::mutex> g(mu_);
            cv_.wait(g, [&] { return !files_.empty() || quit_; });
            if (files_.empty()) return;
        }
        std::string records;
        uint32_t count = 0;
        uint64_t total = 0;
        bool failed = false;
        ChunkScan s;
        ScanStart(&s, buf.data(), buf.size(), Pull, this);
        const unsigned char *data;
        uint32_t len;
        uint64_t at;
        while (NextChunk(&s, &data, &len, &at) == 1) {
            unsigned char rec[MapRecLen], md5[16];
            if (!Md5Of(data, len, md5)) failed = true;
            PutChunk(rec, len, md5);
            records.append((const char *)rec, MapRecLen);
            count++;
            total += len;
        }
        std::lock_guard<std::mutex> g(mu_);
        File &f = files_.front();
        unsigned char fileMd5[16];
        std::string map(MapHeadLen, '\0');
        map += records;
        if (!failed && Md5Bytes(f.md5.c_str(), fileMd5) &&
            PutMapHead((unsigned char *)&map[0], total, fileMd5, count, Md5Of))
            f.map->swap(map);
        files_.pop_front();
        cv_.notify_all();
    }
}

bool ParseMapMin(const std::string &text, uint64_t &out) {
    size_t digits = std::min(text.find_first_not_of("0123456789"), text.size());
    std::string unit = text.substr(digits);
    int shift = unit.empty() ? 0 : unit == "K" || unit == "k" ? 10 : unit == "M" || unit == "m" ? 20
                                 : unit == "G" || unit == "g" ? 30 : -1;
    if (digits == 0 || shift < 0 || digits > 9) {
        fprintf(stderr, "lista: --map-min takes a size such as 4M, 1048576 or 0\n");
        return false;
    }
    out = std::stoull(text.substr(0, digits)) << shift;
    if (out && out < MapMinLeast) {
        fprintf(stderr, "lista: --map-min %s: launchers never ask for the chunk map of a file under 1 MiB\n",
                text.c_str());
        return false;
    }
    return true;
}

fs::path MapPath(const fs::path &site, const std::string &md5) { return site / "update" / "maps" / (md5 + ".map"); }

std::string MapProblem(const std::string &map, const std::string &md5, uint64_t size) {
    MapView v;
    unsigned char want[16];
    switch (ReadMap((const unsigned char *)map.data(), map.size(), &v, Md5Of)) {
    case MapOk: break;
    case MapNotMap: return "is not a chunk map";
    case MapOtherVersion: return "is a chunk map of another version";
    case MapBadCount: return "is a chunk map of the wrong length";
    case MapDamaged: return "is a damaged chunk map (its chunks are not the ones it was written with)";
    case MapBadChunks: return "is a chunk map whose chunks do not add up to its file";
    case MapNoHash: return "cannot be hashed";
    }
    if (!Md5Bytes(md5.c_str(), want) || memcmp(v.md5, want, 16) || v.size != size)
        return "is the chunk map of another file";
    return "";
}

namespace {

// The map of the file at e.path made by a read of its own, which must give
// e's MD5 and size: the client may have changed since it was hashed.
bool MakeMap(Entry &e) {
    std::string why;
    File in;
    if (!OpenRead(e.path, in, why)) {
        IoError(e.name, "cannot be read for its chunk map: " + why);
        return false;
    }
    static char buf[1 << 18];
    MapMaker maker;
    maker.Begin(&e.map);
    Md5 whole;
    uint64_t size = 0;
    long long n;
    while ((n = ReadSome(in, buf, sizeof buf, why)) > 0) {
        whole.Update(buf, (size_t)n);
        maker.Feed(buf, (size_t)n);
        size += (uint64_t)n;
    }
    std::string ignored;
    Close(in, ignored);
    if (n < 0) {
        IoError(e.name, "cannot be read for its chunk map: " + why);
        return false;
    }
    std::string md5 = whole.HexDigest();
    maker.End(md5);
    maker.Wait();
    if (md5 != e.md5 || size != e.size) {
        Problem(e.name, "changed while lista was reading it; run lista again");
        return false;
    }
    if (e.map.empty()) {
        IoError(e.name, "its chunk map cannot be hashed");
        return false;
    }
    return true;
}

}  // namespace

bool StageMaps(std::vector<Entry> &entries, const fs::path &site, uint64_t mapMin, size_t &made) {
    made = 0;
    for (Entry &e : entries) {
        if (!mapMin || e.md5.empty() || e.size < mapMin) continue;
        fs::path path = MapPath(site, e.md5);
        std::string text, why;
        std::error_code ec;
        if (fs::is_regular_file(fs::symlink_status(path, ec)) &&
            ReadSmall(path, MapHeadLen + (size_t)MapChunkMax * MapRecLen + 1, text, why) &&
            MapProblem(text, e.md5, e.size).empty())
            continue;  // named by its file's bytes: the map it holds is the one
        if (e.map.empty() && !MakeMap(e)) return false;
        if (!StageText(path, OrderAside, e.map)) return false;
        e.map.clear();
        e.map.shrink_to_fit();
        made++;
    }
    return true;
}
