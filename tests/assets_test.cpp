// LoadAssets and LoadSprites: the art as built (this test carries the launcher's
// resources, as the launcher does) and sprite packs made here, short or corrupt.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "app/assets.h"
#include "app/state.h"
#include "support/spritepack.h"
#include "support/testutil.h"

namespace {

void ClearSprites() { ZeroMemory(Spr, sizeof Spr); }

bool IsZero(const SpriteEntry &e) { return !e.width && !e.height && !e.dc && !e.bitmap; }

const unsigned char *OwnResource(int id, DWORD *size) {
    HRSRC r = FindResourceW(0, MAKEINTRESOURCEW(id), RT_RCDATA);
    if (!r) return 0;
    *size = SizeofResource(0, r);
    return (const unsigned char *)LockResource(LoadResource(0, r));
}

// The pixels a loaded entry holds, read back from its DIB section.
std::string Bits(const SpriteEntry &e) {
    DIBSECTION ds = {};
    if (GetObjectW(e.bitmap, sizeof ds, &ds) != sizeof ds || !ds.dsBm.bmBits) return "";
    return std::string((const char *)ds.dsBm.bmBits, (size_t)e.width * e.height * 4);
}

std::set<std::wstring> Families() {
    std::set<std::wstring> found;
    HDC dc = GetDC(0);
    LOGFONTW lf = {};
    lf.lfCharSet = DEFAULT_CHARSET;
    EnumFontFamiliesExW(
        dc, &lf,
        [](const LOGFONTW *f, const TEXTMETRICW *, DWORD, LPARAM p) -> int {
            ((std::set<std::wstring> *)p)->insert(f->lfFaceName);
            return 1;
        },
        (LPARAM)&found, 0);
    ReleaseDC(0, dc);
    return found;
}

// The face a font handle selects once realized: a missing family would give a
// stand-in's name here.
std::wstring FaceOf(HFONT f) {
    HDC dc = CreateCompatibleDC(0);
    HGDIOBJ old = SelectObject(dc, f);
    wchar_t name[LF_FACESIZE] = {};
    GetTextFaceW(dc, LF_FACESIZE, name);
    SelectObject(dc, old);
    DeleteDC(dc);
    return name;
}

}  // namespace

// One test for the whole of LoadAssets, because the fonts it registers stay for
// the life of the process: before it runs, the families must be unknown.
TEST(LoadAssets, RegistersTheThreeFamiliesAndLoadsBackgroundsAndAllSprites) {
    std::set<std::wstring> before = Families();
    for (const wchar_t *f : {L"Zorun Cinzel", L"Zorun Sans", L"Zorun Sans SemiBold"})
        ASSERT_EQ(before.count(f), 0u) << "the prefix already knows " << Utf8(f);

    ClearSprites();
    LoadAssets();

    std::set<std::wstring> after = Families();
    for (const wchar_t *f : {L"Zorun Cinzel", L"Zorun Sans", L"Zorun Sans SemiBold"})
        EXPECT_EQ(after.count(f), 1u) << "font enumeration does not find the family";

    // Every handle selects the face it names: no stand-in.
    struct {
        HFONT font;
        const wchar_t *face;
        LONG height, weight;
    } fonts[] = {{FTileBig, L"Zorun Cinzel", -26, 700}, {FTile, L"Zorun Cinzel", -18, 700},
                 {FBody, L"Zorun Sans", -14, 400},       {FBodySb, L"Zorun Sans SemiBold", -14, 400},
                 {FList, L"Zorun Sans SemiBold", -14, 400}, {FSmall, L"Zorun Sans", -12, 400}};
    for (auto &f : fonts) {
        ASSERT_TRUE(f.font);
        EXPECT_EQ(FaceOf(f.font), f.face);
        LOGFONTW lf = {};
        ASSERT_EQ(GetObjectW(f.font, sizeof lf, &lf), (int)sizeof lf);
        EXPECT_EQ(lf.lfHeight, f.height);
        EXPECT_EQ(lf.lfWeight, f.weight);
        EXPECT_EQ(lf.lfQuality, CLEARTYPE_QUALITY);
        EXPECT_EQ(lf.lfOutPrecision, OUT_TT_PRECIS);
    }
    // The list and the semibold body are one font under two handles.
    EXPECT_NE(FBodySb, FList);
    LOGFONTW a = {}, b = {};
    GetObjectW(FBodySb, sizeof a, &a);
    GetObjectW(FList, sizeof b, &b);
    EXPECT_EQ(memcmp(&a, &b, sizeof a), 0);

    for (HBITMAP bg : {BgHome, BgOpt}) {
        ASSERT_TRUE(bg);
        BITMAP bm = {};
        ASSERT_EQ(GetObjectW(bg, sizeof bm, &bm), (int)sizeof bm);
        EXPECT_EQ(bm.bmWidth, 900);
        EXPECT_EQ(bm.bmHeight, 560);
    }

    // Spr: the sizes of the table, and exactly the pack's pixels.
    DWORD size = 0;
    const unsigned char *pack = OwnResource(IdSprites, &size);
    ASSERT_TRUE(pack);
    std::vector<SpriteSize> want = ExpectedSprites();
    DWORD at = 4;
    for (int i = 0; i < SpriteMax; i++) {
        SCOPED_TRACE(i);
        ASSERT_TRUE(Spr[i].dc && Spr[i].bitmap);
        EXPECT_EQ(Spr[i].width, want[i].width);
        EXPECT_EQ(Spr[i].height, want[i].height);
        DWORD bytes = (DWORD)Spr[i].width * Spr[i].height * 4;
        ASSERT_LE(at + 4 + bytes, size);
        EXPECT_TRUE(Bits(Spr[i]) == std::string((const char *)pack + at + 4, bytes));
        EXPECT_EQ(GetCurrentObject(Spr[i].dc, OBJ_BITMAP), (HGDIOBJ)Spr[i].bitmap);
        at += 4 + bytes;
    }
    EXPECT_EQ(at, size) << "the pack is consumed to its last byte";
}

TEST(SpritePack, AsBuiltHasTheTableSizesAndPremultipliedPixels) {
    DWORD size = 0;
    const unsigned char *pack = OwnResource(IdSprites, &size);
    ASSERT_TRUE(pack);
    EXPECT_EQ(size, (DWORD)PackSize);
    DWORD count;
    memcpy(&count, pack, 4);
    EXPECT_EQ(count, 45u);
    std::vector<SpriteSize> want = ExpectedSprites();
    DWORD at = 4;
    for (DWORD i = 0; i < count && i < want.size(); i++) {
        SCOPED_TRACE(i);
        ASSERT_LE(at + 4, size);
        unsigned short w, h;
        memcpy(&w, pack + at, 2);
        memcpy(&h, pack + at + 2, 2);
        EXPECT_EQ(w, want[i].width);
        EXPECT_EQ(h, want[i].height);
        at += 4;
        size_t bytes = (size_t)w * h * 4, above = 0, opaque = 0;
        ASSERT_LE(at + bytes, size);
        for (size_t p = 0; p < bytes; p += 4) {
            const unsigned char *px = pack + at + p;
            if (px[0] > px[3] || px[1] > px[3] || px[2] > px[3]) above++;
            if (px[3]) opaque++;
        }
        EXPECT_EQ(above, 0u) << "colour bytes above their alpha";
        EXPECT_GT(opaque, 0u) << "an empty sprite";
        at += (DWORD)bytes;
    }
    EXPECT_EQ(at, size);
}

// Packs made here. Every record's pixels are its own byte, so an entry shows
// which record it was loaded from.
class MadePack : public ::testing::Test {
protected:
    void SetUp() override { ClearSprites(); }
    static unsigned char FirstByte(int i) {
        std::string b = Bits(Spr[i]);
        return b.empty() ? 0 : (unsigned char)b[0];
    }
};

TEST_F(MadePack, MoreThan45RecordsLoads45AndStopsThere) {
    std::vector<SpriteSize> recs;
    for (int i = 0; i < 50; i++) recs.push_back({2 + i, 3});
    std::string p = MakePack(50, recs);
    EXPECT_EQ(LoadSprites((const unsigned char *)p.data(), (DWORD)p.size()), 45);
    for (int i = 0; i < SpriteMax; i++) {
        SCOPED_TRACE(i);
        EXPECT_EQ(Spr[i].width, 2 + i);
        EXPECT_EQ(Spr[i].height, 3);
        EXPECT_EQ(FirstByte(i), 0x20 + i);
    }
}

TEST_F(MadePack, CountZeroLeavesEveryEntryZero) {
    std::string p = MakePack(0, {{4, 4}, {4, 4}});
    EXPECT_EQ(LoadSprites((const unsigned char *)p.data(), (DWORD)p.size()), 0);
    for (int i = 0; i < SpriteMax; i++) EXPECT_TRUE(IsZero(Spr[i])) << i;
}

TEST_F(MadePack, ShortOrCorruptPacksLoadOnlyWholeRecords) {
    std::string three = MakePack(3, {{5, 4}, {6, 3}, {7, 2}});
    struct Case {
        const char *what;
        std::string pack;
        int loaded;
    } cases[] = {
        {"whole", three, 3},
        {"last pixel missing", three.substr(0, three.size() - 1), 2},
        {"cut inside the second header", three.substr(0, 4 + 4 + 80 + 2), 1},
        {"cut right after the first record", three.substr(0, 4 + 4 + 80), 1},
        {"only the count", three.substr(0, 4), 0},
        {"shorter than the count", three.substr(0, 3), 0},
        {"count larger than the records", MakePack(45, {{5, 4}, {6, 3}}), 2},
        {"65535 x 65535 with no pixels", MakePack(1, {}) + std::string("\xff\xff\xff\xff", 4), 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ClearSprites();
        EXPECT_EQ(LoadSprites((const unsigned char *)c.pack.data(), (DWORD)c.pack.size()), c.loaded);
        for (int i = 0; i < SpriteMax; i++) {
            if (i < c.loaded) {
                EXPECT_EQ(Spr[i].width, 5 + i);
                EXPECT_EQ(FirstByte(i), 0x20 + i);
            } else {
                EXPECT_TRUE(IsZero(Spr[i])) << i;
            }
        }
    }
    ClearSprites();
    EXPECT_EQ(LoadSprites(0, 0), 0);
}

TEST_F(MadePack, ARecordWithoutPixelsIsPassedOver) {
    std::string p = MakePack(3, {{4, 4}, {0, 9}, {3, 2}});
    EXPECT_EQ(LoadSprites((const unsigned char *)p.data(), (DWORD)p.size()), 2);
    EXPECT_EQ(Spr[0].width, 4);
    EXPECT_TRUE(IsZero(Spr[1]));
    EXPECT_EQ(Spr[2].width, 3);
    EXPECT_EQ(FirstByte(2), 0x22);
}
