#include "maps.h"

#include <cstdio>
#include <cstring>
#include <fstream>

#include "crypto.h"
#include "update/chunker.h"
#include "update/chunkmap.h"

namespace fs = std::filesystem;

namespace {

int Md5Of(const void *data, size_t n, unsigned char out[16]) {
    Md5 h;
    h.Update(data, n);
    return Md5Bytes(h.HexDigest().c_str(), out);
}

long ReadStream(void *src, unsigned char *to, size_t n) {
    std::ifstream &in = *(std::ifstream *)src;
    in.read((char *)to, (std::streamsize)n);
    return in.bad() ? -1 : (long)in.gcount();
}

}  // namespace

fs::path MapPath(const fs::path &site, const std::string &md5) { return site / "update" / "maps" / (md5 + ".map"); }

bool MakeMap(const fs::path &path, const std::string &name, const std::string &md5, uint64_t size, std::string &map) {
    unsigned char fileMd5[16];
    std::ifstream in(path, std::ios::binary);
    if (!in || !Md5Bytes(md5.c_str(), fileMd5)) {
        fprintf(stderr, "lista: %s: cannot be read for its chunk map\n", name.c_str());
        return false;
    }
    static unsigned char buf[2 * ChunkMax];
    ChunkScan s;
    ScanStart(&s, buf, sizeof buf, ReadStream, &in);
    map.assign(MapHeadLen, '\0');
    const unsigned char *data;
    uint32_t len, count = 0;
    uint64_t at, total = 0;
    int got;
    while ((got = NextChunk(&s, &data, &len, &at)) == 1) {
        unsigned char rec[MapRecLen], md5c[16];
        if (!Md5Of(data, len, md5c)) return false;
        PutChunk(rec, len, md5c);
        map.append((const char *)rec, MapRecLen);
        count++;
        total += len;
    }
    if (got < 0 || total != size) {
        fprintf(stderr, "lista: %s: %s while its chunk map was made\n", name.c_str(),
                got < 0 ? "a read failed" : "changed");
        return false;
    }
    return PutMapHead((unsigned char *)&map[0], size, fileMd5, count, Md5Of) != 0;
}

std::string MapProblem(const std::string &map, const std::string &md5, uint64_t size) {
    MapView v;
    unsigned char want[16];
    switch (ReadMap((const unsigned char *)map.data(), map.size(), &v, Md5Of)) {
    case MapOk: break;
    case MapNotMap: return "not a chunk map";
    case MapOtherVersion: return "a chunk map of another version";
    case MapBadCount: return "a chunk map of the wrong length";
    case MapDamaged: return "a damaged chunk map (its chunks do not have their MD5)";
    case MapBadChunks: return "a chunk map whose chunks do not make the file's size";
    case MapNoHash: return "cannot be hashed";
    }
    if (!Md5Bytes(md5.c_str(), want) || memcmp(v.md5, want, 16) || v.size != size)
        return "the chunk map of another file";
    return "";
}
