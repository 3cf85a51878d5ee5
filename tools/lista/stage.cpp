#include "stage.h"

#include <chrono>
#include <cstdio>
#include <cstring>

#include "crypto.h"
#include "files.h"
#include "limits.h"
#include "maps.h"
#include "report.h"
#include "writer.h"

namespace {

// Large reads and writes: a release is mostly a few big archives.
char Buf[1 << 18];
static_assert(Writer::SlotLen == sizeof Buf, "the writer's slots take the reads whole");

struct Progress {
    size_t files = 0, doneFiles = 0;
    uintmax_t bytes = 0, doneBytes = 0;
    std::chrono::steady_clock::time_point last = std::chrono::steady_clock::now();

    void Step(uintmax_t n, bool fileDone) {
        doneBytes += n;
        doneFiles += fileDone;
        auto now = std::chrono::steady_clock::now();
        if (Quiet || now - last < std::chrono::seconds(1)) return;
        last = now;
        fprintf(stderr, "lista: %zu of %zu files, %.1f of %.1f MiB\n", doneFiles, files, doneBytes / 1048576.0,
                bytes / 1048576.0);
    }
};

// What 'lista keygen' writes first: such a file is never published, whatever
// its name or place.
const char KeyMark[] = "velmora-private-key ";

enum Read { ReadOk, ReadBad, WriteBad };

// Reads e once: hashes it and, when tmp is given, copies it there (through
// the writer, when given: a failed write shows there), so the copy holds
// exactly the bytes hashed; the size is the bytes read, too. With maps, its
// chunk map is made from the same bytes (into e.map).
Read HashCopy(Entry &e, const fs::path &tmp, Progress &pr, MapMaker *maps = nullptr, Writer *w = nullptr) {
    std::string why;
    File in, out;
    if (!OpenRead(e.path, in, why)) {
        IoError(e.name, "cannot be read: " + why);
        return ReadBad;
    }
    Read result = ReadOk;
    if (tmp.empty()) w = nullptr;
    if (w) w->Open(tmp);
    else if (!tmp.empty() && !Create(tmp, out, why)) {
        IoError(Utf8(tmp), "cannot be written: " + why);
        result = WriteBad;
    }
    Md5 h;
    if (maps) maps->Begin(&e.map);
    uintmax_t size = 0;
    long long n = 0;
    while (result == ReadOk) {
        int slot = -1;
        char *buf = w ? w->Take(slot) : Buf;
        if ((n = ReadSome(in, buf, sizeof Buf, why)) <= 0) {
            if (w) w->Write(slot, 0);
            break;
        }
        if (size == 0 && (size_t)n >= sizeof KeyMark - 1 && !memcmp(buf, KeyMark, sizeof KeyMark - 1)) {
            if (w) w->Write(slot, 0);
            Refusal(e.name, "is a private key file of 'lista keygen'; a private key is never published");
            result = ReadBad;
            break;
        }
        h.Update(buf, (size_t)n);
        if (maps) maps->Feed(buf, (size_t)n);
        if (w) {
            w->Write(slot, (size_t)n);
        } else if (out.fd >= 0 && !WriteAll(out, buf, (size_t)n, why)) {
            IoError(Utf8(tmp), "cannot be written: " + why);
            result = WriteBad;
        }
        size += (uintmax_t)n;
        pr.Step((uintmax_t)n, false);
    }
    if (n < 0) {
        IoError(e.name, "cannot be read: " + why);
        result = ReadBad;
    }
    Close(in, why);
    if (w)
        w->Close();
    else if (out.fd >= 0 && !Close(out, why) && result == ReadOk) {
        IoError(Utf8(tmp), "cannot be written: " + why);
        result = WriteBad;
    }
    std::string md5 = result == ReadOk ? h.HexDigest() : "";
    if (maps) maps->End(md5);
    if (result != ReadOk) return result;
    pr.Step(0, true);
    e.md5 = md5;
    e.size = size;
    if (size > MaxSize) {
        Problem(e.name, "has 4 GiB or more; the launcher counts a file's size in 32 bits");
        return ReadBad;
    }
    return ReadOk;
}

}  // namespace

std::string FileMd5(const fs::path &path) {
    std::string why;
    File in;
    if (!OpenRead(path, in, why)) return "";
    Md5 h;
    long long n;
    while ((n = ReadSome(in, Buf, sizeof Buf, why)) > 0) h.Update(Buf, (size_t)n);
    Close(in, why);
    return n < 0 ? "" : h.HexDigest();
}

bool ReadClient(std::vector<Entry> &entries, const fs::path &files, const Served &served, uint64_t mapMin,
                size_t &copied) {
    Progress pr;
    for (const Entry &e : entries) pr.bytes += e.size;
    pr.files = entries.size();
    copied = 0;
    bool copy = !files.empty();
    MapMaker maker;
    // The maps are all made before the entries are read further (StageMaps).
    struct Done {
        MapMaker &m;
        ~Done() { m.Wait(); }
    } done{maker};
    // Every staged copy is written and closed before this returns (its
    // destructor), whatever becomes of the run.
    Writer writer;
    std::string failedName, failedWhy;
    auto written = [&] {
        if (writer.Drain(failedName, failedWhy)) return true;
        IoError(failedName, "cannot be written: " + failedWhy);
        return false;
    };
    for (Entry &e : entries) {
        if (writer.Failed()) return written();
        if (!copy) {
            HashCopy(e, fs::path(), pr);
            continue;
        }
        fs::path dst = files / fs::u8path(e.name);
        // A file of the size the site lists may be the one it serves: read it
        // once to see. The site's copy is trusted as published unless it
        // changed after its manifest did (then it is read as well): a release
        // with nothing changed costs one read of the client.
        auto listed = served.files.find(e.name);
        std::string size = std::to_string(e.size);
        std::error_code ec;
        bool same = listed != served.files.end() && listed->second.size() == 33 + size.size() &&
                    listed->second.compare(32, std::string::npos, "|" + size) == 0;
        // A large file gets its chunk map in the same read, unless it is most
        // likely the one the site serves with its map (a file that turns out
        // changed has its map made by a read of its own: StageMaps).
        bool mapped = mapMin && e.size >= mapMin &&
                      !(same && fs::exists(MapPath(files.parent_path().parent_path(), listed->second.substr(0, 32)), ec));
        if (same && fs::is_regular_file(fs::symlink_status(dst, ec)) && fs::file_size(dst, ec) == e.size) {
            if (HashCopy(e, fs::path(), pr, mapped ? &maker : nullptr) != ReadOk) continue;
            if (listed->second == e.md5 + "|" + std::to_string(e.size) &&
                (fs::last_write_time(dst, ec) <= served.time || FileMd5(dst) == e.md5))
                continue;
        }
        fs::path tmp;
        bool shape = false;
        if (!Stage(dst, OrderFile, tmp, shape)) {
            if (!shape) return false;
            copy = false;  // the rest is still checked and hashed
            HashCopy(e, fs::path(), pr);
            continue;
        }
        Read r = HashCopy(e, tmp, pr, mapped ? &maker : nullptr, &writer);
        if (r == WriteBad) return false;
        copied += r == ReadOk;
    }
    return written();
}
