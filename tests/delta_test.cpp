// Delta downloads: which chunks of a new version a local file holds, and where.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/netrun.h"
#include "support/testutil.h"
#include "update/chunker.h"
#include "update/chunkmap.h"
#include "update/delta.h"
#include "app/state.h"

namespace {

int Md5Raw(const void *data, size_t n, unsigned char out[16]) {
    return Md5Bytes(Md5Of(std::string((const char *)data, n)).c_str(), out);
}

// The chunk map lista publishes for data (its agreement with lista's own is
// checked by tests/delta_nginx_test.py).
std::string MapOf(const std::string &data) {
    std::string map(MapHeadLen, '\0');
    uint32_t count = 0;
    for (size_t at = 0; at < data.size(); count++) {
        uint32_t len = ChunkLen((const unsigned char *)data.data() + at, data.size() - at);
        unsigned char rec[MapRecLen], md5[16];
        Md5Raw(data.data() + at, len, md5);
        PutChunk(rec, len, md5);
        map.append((const char *)rec, MapRecLen);
        at += len;
    }
    unsigned char md5[16];
    Md5Bytes(Md5Of(data).c_str(), md5);
    PutMapHead((unsigned char *)&map[0], data.size(), md5, count, Md5Raw);
    return map;
}

struct Span {
    uint64_t from, to;
};

// What a player with old is asked to fetch of new: the spans, after
// TakeMap and IndexLocal, with the bytes held in *held.
std::vector<Span> Plan(const std::string &old, const std::string &now, int64_t *held) {
    std::wstring dir = FreshDir(L"delta-plan"), local = dir + L"\\old.bin";
    EXPECT_TRUE(WriteBytes(local, old));
    std::string map = MapOf(now);
    EXPECT_TRUE(DeltaReserve(now.size()));
    EXPECT_TRUE(TakeMap((const unsigned char *)map.data(), map.size(), now.size(), Md5Of(now).c_str()));
    *held = IndexLocal(local.c_str());
    std::vector<Span> out;
    Span s;
    for (uint64_t at = 0; NextMissing(at, &s.from, &s.to); at = s.to) out.push_back(s);
    return out;
}

uint64_t Bytes(const std::vector<Span> &spans) {
    uint64_t n = 0;
    for (const Span &s : spans) n += s.to - s.from;
    return n;
}

const size_t MiB = 1 << 20, Size = 4 * MiB;
const std::string Old = Noise(Size, 1);

std::string Rewrite(std::string s, size_t at, size_t n, unsigned seed) { return s.replace(at, n, Noise(n, seed)); }

// ---- Which chunks a local file holds ---------------------------------------------

// Each row: the new version made from the old one, the edited spans of the
// new version, and what the plan must ask for: every edited byte, spans that
// each hold an edit, and at most Slack bytes around each edit (the chunks it
// touched and the next that falls back in step).
struct PlanCase {
    const char *what;
    std::string now;
    std::vector<Span> edits;
};

const uint64_t Slack = 2 * ChunkMax;

TEST(DeltaPlan, AsksOnlyForTheChunksAroundEachEdit) {
    std::string three = Rewrite(Rewrite(Rewrite(Old, 300000, 4096, 2), 2 * MiB, 64 * 1024, 3), 3 * MiB + 5, 1, 4);
    std::string inserted = Old.substr(0, 1000) + Noise(100, 5) + Old.substr(1000);
    std::string appended = Old + Noise(MiB / 2, 6);
    // A repeated part holds no new bytes, but its last chunk ends with the file.
    std::string twice = Old + Old.substr(0, MiB);
    const PlanCase cases[] = {
        {"unchanged", Old, {}},
        {"three rewrites", three, {{300000, 304096}, {2 * MiB, 2 * MiB + 65536}, {3 * MiB + 5, 3 * MiB + 6}}},
        {"an insertion near the start", inserted, {{1000, 1100}}},
        {"truncated", Old.substr(0, 3 * MiB + 12345), {{3 * MiB + 12345, 3 * MiB + 12345}}},
        {"appended", appended, {{Size, Size + MiB / 2}}},
        {"a part repeated", twice, {{Size, Size}, {Size + MiB, Size + MiB}}},
    };
    for (const PlanCase &c : cases) {
        SCOPED_TRACE(c.what);
        int64_t held;
        std::vector<Span> spans = Plan(Old, c.now, &held);
        EXPECT_EQ(held + Bytes(spans), c.now.size());
        for (const Span &s : spans) {
            bool nearby = false;
            for (const Span &e : c.edits) nearby |= s.from <= e.to && e.from <= s.to + (e.from == e.to);
            EXPECT_TRUE(nearby) << "asks for " << s.from << "-" << s.to << ", where nothing changed";
        }
        for (const Span &e : c.edits) {
            bool covered = e.from == e.to;
            for (const Span &s : spans) covered |= s.from <= e.from && e.to <= s.to;
            EXPECT_TRUE(covered) << "the edit at " << e.from << " is not fetched";
        }
        uint64_t changed = 0;
        for (const Span &e : c.edits) changed += e.to - e.from;
        EXPECT_LE(Bytes(spans), changed + Slack * c.edits.size());
    }
    DeltaRelease();
}

TEST(DeltaPlan, FindsChunksAtTheirNewOffsets) {
    // 100 bytes in front: every chunk past the first few is still there,
    // 100 bytes earlier in the old file.
    std::string now = Noise(100, 7) + Old;
    int64_t held;
    Plan(Old, now, &held);
    uint32_t moved = 0;
    for (uint32_t i = 0; i < MapChunks(); i++) {
        uint64_t at, from;
        uint32_t len;
        MapChunk(i, &at, &len, &from);
        if (from == HeldNowhere) continue;
        EXPECT_EQ(from + 100, at) << "chunk " << i;
        EXPECT_EQ(Old.substr(from, len), now.substr(at, len)) << "chunk " << i;
        moved++;
    }
    EXPECT_GE(moved + 3, MapChunks());
    DeltaRelease();
}

TEST(DeltaPlan, TwoReadersFindWhatOneWould) {
    // The file read in two halves at once: the chunks across the middle are
    // found too (wherever the middle falls), and so are those past an
    // insertion in the second half.
    uint64_t split = DeltaSplit;
    DeltaSplit = MiB;
    for (size_t cut = 0; cut < 6 * 50000; cut += 50000) {
        std::string old = Old.substr(cut);
        int64_t held;
        std::vector<Span> none = Plan(old, old, &held);
        EXPECT_EQ(held, (int64_t)old.size()) << "a file of " << old.size() << " bytes";
        EXPECT_TRUE(none.empty());
    }
    std::string now = Old.substr(0, 3 * MiB) + "inserido" + Old.substr(3 * MiB);
    int64_t held;
    std::vector<Span> spans = Plan(Old, now, &held);
    ASSERT_EQ(spans.size(), 1u);
    EXPECT_LE(spans[0].from, 3 * MiB);
    EXPECT_GE(spans[0].to, 3 * MiB + 8);
    EXPECT_LE(Bytes(spans), Slack);
    DeltaSplit = split;
    DeltaRelease();
}

TEST(DeltaPlan, AnotherGamesFileHoldsNothing) {
    int64_t held;
    std::vector<Span> spans = Plan(Noise(Size, 99), Old, &held);
    EXPECT_EQ(held, 0);
    ASSERT_EQ(spans.size(), 1u);
    EXPECT_EQ(spans[0].from, 0u);
    EXPECT_EQ(spans[0].to, Size);
    DeltaRelease();
}

// ---- Delta downloads in update runs ------------------------------------------------

// The header and a record's offsets, as the format is documented.
const size_t CountAt = 32, DigestAt = 36;

// The map with its records' MD5 worked out again: damaged on purpose, yet whole.
std::string Resealed(std::string map) {
    unsigned char sum[16];
    Md5Raw(map.data() + MapHeadLen, map.size() - MapHeadLen, sum);
    return map.replace(DigestAt, 16, (const char *)sum, 16);
}

class Deltas : public NetRun {
protected:
    // The player has Old; the site lists the new version with the map given
    // ("" for none).
    const std::string now = Rewrite(Old, 2 * MiB, 64 * 1024, 11);
    size_t mark = 0;

    void Publish(const std::string &map) {
        manifest.clear();
        List("a.pak", now);
        std::wstring maps = site + L"\\update\\maps\\" + Wide(Md5Of(now)) + L".map";
        DeleteFileW(maps.c_str());
        if (!map.empty()) ASSERT_TRUE(WriteBytes(maps, map));
    }
    Publications Run() {
        mark = server.Heads().size();
        ResetState();
        return NetRun::Run();
    }
    // The Range of each request for the file in the last run ("" = whole),
    // and how many asked for a map.
    std::vector<std::string> Asked(int *maps) {
        std::vector<std::string> out, heads = server.Heads();
        *maps = 0;
        for (size_t i = mark; i < heads.size(); i++) {
            if (heads[i].rfind("GET /update/maps/", 0) == 0) ++*maps;
            if (heads[i].rfind("GET /update/files/a.pak ", 0) != 0) continue;
            size_t at = heads[i].find("\r\nRange: ");
            out.push_back(at == std::string::npos ? "" : heads[i].substr(at + 9, heads[i].find("\r\n", at + 2) - at - 9));
        }
        return out;
    }
};

// First offset of a "bytes=A-B" range.
uint64_t FirstOf(const std::string &range) { return std::stoull(range.substr(6)); }

// Each row: the map the site has, how the file is answered, and the player's
// copy; what the launcher asks for (map requests, then each request for the
// file: "range" for a span, "" for the whole file). Every run places the new
// file exactly, tells a progress that never passes 1000, and leaves nothing.
struct DeltaCase {
    const char *what;
    std::string map;
    Rule answer;
    int maps;
    std::vector<std::string> asked;
    std::string local = Old;
};

TEST_F(Deltas, WhatTheLauncherAsksFor) {
    const std::string good = MapOf(now);
    std::string damaged = good, other = MapOf(Old), longer = good, version = good, lying = good;
    damaged[MapHeadLen + 30] ^= 1;
    longer.replace(8, 1, 1, (char)(longer[8] + 1));  // claims one byte more than the file
    version[4] = 2;
    // Its first two chunks swapped, both of them held by the player: the
    // launcher puts bytes where the new file does not have them.
    lying = Resealed(lying.substr(0, MapHeadLen) + good.substr(MapHeadLen + MapRecLen, MapRecLen) +
                     good.substr(MapHeadLen, MapRecLen) + good.substr(MapHeadLen + 2 * MapRecLen));
    // Chunks of 4 KiB: more than the chunker ever makes of the file.
    std::string many(MapHeadLen, '\0');
    for (size_t at = 0; at < now.size(); at += 4096) {
        unsigned char rec[MapRecLen], md5[16];
        Md5Raw(now.data() + at, 4096, md5);
        PutChunk(rec, 4096, md5);
        many.append((const char *)rec, MapRecLen);
    }
    many.replace(0, CountAt, good, 0, CountAt);
    uint32_t n = (uint32_t)(now.size() / 4096);
    many.replace(CountAt, 4, (const char *)&n, 4);
    many = Resealed(many);
    const std::string range = "range";
    DeltaCase cases[] = {
        {"a good map", good, Rule(), 1, {range}},
        {"no map", "", Rule(), 1, {""}},
        {"a damaged map", damaged, Rule(), 1, {""}},
        {"the map of another file", other, Rule(), 1, {""}},
        {"a map claiming more bytes than the file", Resealed(longer), Rule(), 1, {""}},
        {"a map of another version", version, Rule(), 1, {""}},
        {"a map of more chunks than the file can have", many, Rule(), 1, {""}},
        {"a map that places old bytes", lying, Rule(), 1, {range, ""}},
        {"a range answered with another span", good, Rule().Skew(1), 1, {range, ""}},
        {"a range answered whole", good, Rule().NoRanges(), 1, {range}},
        {"a range cut, then served", good, Rule::CutAt(20000).Times(1), 1, {range, range}},
        {"a busy server, then served", good, Rule::Status(503).Times(1), 1, {range, range}},
        {"a copy of another game", good, Rule(), 1, {""}, Noise(Size, 99)},
        {"a copy of less than half the size", good, Rule(), 0, {""}, Old.substr(0, Size / 2 - 1)},
    };
    for (const DeltaCase &c : cases) {
        SCOPED_TRACE(c.what);
        DeleteFileW(Game("a.pak.novo").c_str());
        DeleteFileW(Game("a.pak.retomar").c_str());
        Have("a.pak", c.local);
        Publish(c.map);
        server.Forget();
        server.On("/update/files/a.pak", c.answer);
        Publications pubs = Run();
        int maps;
        std::vector<std::string> asked = Asked(&maps);
        EXPECT_EQ(maps, c.maps);
        ASSERT_EQ(asked.size(), c.asked.size()) << Utf8(pubs.back().first);
        for (size_t i = 0; i < asked.size(); i++)
            EXPECT_EQ(asked[i].empty(), c.asked[i].empty()) << "request " << i + 1 << ": " << asked[i];
        EXPECT_EQ(pubs.back(), std::make_pair(Updated, 1000));
        EXPECT_TRUE(In("a.pak") == now);
        EXPECT_FALSE(Exists(Game("a.pak.novo")));
        EXPECT_FALSE(Exists(Game("a.pak.retomar")));
        int most = 0;
        for (const auto &p : pubs) {
            most = std::max(most, p.second);
            // A delta that gives way to a whole download is still the one file.
            if (p.first.find(L"Baixando") == 0) EXPECT_NE(p.first.find(L"(1 de 1)"), std::wstring::npos) << Utf8(p.first);
        }
        EXPECT_LE(most, 1000);
        // A range asked again goes on from where the cut one stopped.
        if (asked.size() == 2 && !asked[1].empty()) EXPECT_GE(FirstOf(asked[1]), FirstOf(asked[0]));
    }
}

// The progress counts what comes from the site: the 64 KiB or so fetched of
// the 4 MiB file, then a small file fetched whole, make the whole bar.
TEST_F(Deltas, TheProgressCountsTheBytesFetched) {
    const size_t small = 200000;
    Have("a.pak", Old);
    Publish(MapOf(now));
    List("b.bin", Noise(small, 5));
    Publications pubs = Run();
    int maps;
    std::vector<std::string> asked = Asked(&maps);
    ASSERT_EQ(asked.size(), 1u);
    size_t dash = asked[0].find('-');
    uint64_t from = FirstOf(asked[0]), to = std::stoull(asked[0].substr(dash + 1)) + 1;
    EXPECT_LE(from, 2 * MiB);
    EXPECT_GE(to, 2 * MiB + 65536);
    EXPECT_LE(to - from, 65536 + Slack);
    int most = 0, atB = -1;
    for (const auto &p : pubs) {
        most = std::max(most, p.second);
        if (atB < 0 && p.first.find(L"Baixando b.bin") == 0) atB = p.second;
    }
    EXPECT_LE(most, 1000);
    // When b.bin starts, a.pak's fetched bytes are counted against them and b.bin's.
    EXPECT_NEAR(atB, (int)((to - from) * 1000 / (to - from + small)), 1);
    EXPECT_TRUE(In("b.bin") == Noise(small, 5));
}

}  // namespace

namespace {

// Files fetched side by side: two deltas (which share the run's tables, one
// at a time) and whole downloads on the other lanes. Each file is placed
// exactly, each delta asks only for ranges, and each file keeps one ordinal
// of its own in the status line, also while it waits for the other delta.
TEST_F(Deltas, TwoDeltasBesideWholeDownloads) {
    Lanes = 4;
    const std::string old2 = Noise(Size, 7), now2 = Rewrite(old2, MiB, 64 * 1024, 12);
    Have("a.pak", Old);
    Have("c.pak", old2);
    Publish(MapOf(now));
    List("c.pak", now2);
    ASSERT_TRUE(WriteBytes(site + L"\\update\\maps\\" + Wide(Md5Of(now2)) + L".map", MapOf(now2)));
    for (int i = 0; i < 6; i++) List("s" + std::to_string(i) + ".bin", Noise(300000, 20 + i));
    // A far server: both archives are under way at once.
    server.On("/update/files/a.pak", Rule().After(300));
    server.On("/update/files/c.pak", Rule().After(300));
    Publications pubs = Run();
    EXPECT_EQ(pubs.back(), std::make_pair(Updated, 1000));
    EXPECT_TRUE(In("a.pak") == now);
    EXPECT_TRUE(In("c.pak") == now2);
    for (int i = 0; i < 6; i++) EXPECT_TRUE(In("s" + std::to_string(i) + ".bin") == Noise(300000, 20 + i));
    std::vector<std::string> heads = server.Heads();
    for (size_t i = mark; i < heads.size(); i++)
        if (heads[i].rfind("GET /update/files/", 0) == 0 && heads[i].find(".pak ") != std::string::npos)
            EXPECT_NE(heads[i].find("\r\nRange: "), std::string::npos) << heads[i];
    std::map<std::wstring, std::set<int>> ordinals;
    std::set<int> taken;
    for (const auto &p : pubs) {
        EXPECT_LE(p.second, 1000);
        int index, need;
        size_t at = p.first.find(L" (");
        if (p.first.rfind(L"Baixando ", 0) || swscanf(p.first.c_str() + at, L" (%d de %d)", &index, &need) != 2)
            continue;
        EXPECT_EQ(need, 8);
        ordinals[p.first.substr(9, at - 9)].insert(index);
        taken.insert(index);
    }
    for (const auto &o : ordinals) EXPECT_EQ(o.second.size(), 1u) << Utf8(o.first);
    EXPECT_EQ(taken.size(), ordinals.size());
}

}  // namespace
