// Signed updates: a launcher with keys built in runs an update only over a
// manifest that one of its keys signed, with a serial not below the highest it
// accepted before. Runs go through the network thread against a real local
// web server and real folders; the keys are made here with CNG, each run.
#include <gtest/gtest.h>

#include <windows.h>

#include <bcrypt.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "app/options.h"
#include "app/state.h"
#include "net/netthread.h"
#include "support/netrun.h"
#include "update/hashrec.h"
#include "update/signature.h"

namespace {

const std::wstring Refused = L"Atualização recusada: assinatura inválida. Você pode jogar mesmo assim.";

std::string Hex(const unsigned char *p, size_t n) {
    static const char d[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; i++) s += {d[p[i] >> 4], d[p[i] & 15]};
    return s;
}

// An operator's key pair, made with CNG.
struct TestKey {
    BCRYPT_KEY_HANDLE h = 0;
    PublicKey pub{};
};

TestKey NewKey() {
    static BCRYPT_ALG_HANDLE alg;
    if (!alg) BCryptOpenAlgorithmProvider(&alg, BCRYPT_ECDSA_P256_ALGORITHM, 0, 0);
    TestKey k;
    unsigned char blob[sizeof(BCRYPT_ECCKEY_BLOB) + 64];
    ULONG len = 0;
    EXPECT_EQ(BCryptGenerateKeyPair(alg, &k.h, 256, 0), 0);
    EXPECT_EQ(BCryptFinalizeKeyPair(k.h, 0), 0);
    EXPECT_EQ(BCryptExportKey(k.h, 0, BCRYPT_ECCPUBLIC_BLOB, blob, sizeof blob, &len, 0), 0);
    memcpy(k.pub.xy, blob + sizeof(BCRYPT_ECCKEY_BLOB), 64);
    memcpy(k.pub.id, k.pub.xy, KeyIdLen);  // any 8 bytes: the launcher only matches them
    return k;
}

std::string Sha256(const std::string &data) {
    BCRYPT_ALG_HANDLE alg;
    BCryptOpenAlgorithmProvider(&alg, BCRYPT_SHA256_ALGORITHM, 0, 0);
    BCRYPT_HASH_HANDLE h;
    std::string out(32, '\0');
    BCryptCreateHash(alg, &h, 0, 0, 0, 0, 0);
    BCryptHashData(h, (PUCHAR)data.data(), (ULONG)data.size(), 0);
    BCryptFinishHash(h, (PUCHAR)&out[0], 32, 0);
    BCryptDestroyHash(h);
    BCryptCloseAlgorithmProvider(alg, 0);
    return out;
}

// The signature file for manifest, signed by `by` under the id of `as`.
std::string SignatureOf(const std::string &manifest, unsigned long long serial, const TestKey &by,
                        const TestKey *as = nullptr) {
    std::string header = "velmora-sig 1\nkey " + Hex((as ? as : &by)->pub.id, KeyIdLen) + "\nserial " +
                         std::to_string(serial) + "\n";
    std::string digest = Sha256(header + manifest);
    unsigned char rs[64];
    ULONG len = 0;
    EXPECT_EQ(BCryptSignHash(by.h, 0, (PUCHAR)digest.data(), 32, rs, 64, &len, 0), 0);
    return header + "sig " + Hex(rs, 64) + "\n";
}

// Every file below dir, by relative name, with its bytes.
void Snapshot(const std::wstring &dir, const std::wstring &rel, std::map<std::wstring, std::string> &out) {
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((dir + rel + L"\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        std::wstring n = fd.cFileName;
        if (n == L"." || n == L"..") continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            out[rel + L"\\" + n + L"\\"] = "";
            Snapshot(dir, rel + L"\\" + n, out);
        } else {
            out[rel + L"\\" + n] = ReadBytes(dir + rel + L"\\" + n);
        }
    } while (FindNextFileW(h, &fd));
    FindClose(h);
}

std::map<std::wstring, std::string> Snapshot(const std::wstring &dir) {
    std::map<std::wstring, std::string> out;
    Snapshot(dir, L"", out);
    return out;
}

class Signed : public NetRun {
protected:
    TestKey a = NewKey(), b = NewKey(), other = NewKey();
    const std::string content = "arquivo novo";
    std::string list = "a.bin|" + Md5Of(content) + "|12\n";

    void SetUp() override {
        NetRun::SetUp();
        ASSERT_TRUE(WriteBytes(site + L"\\update\\files\\a.bin", content));
        Keys[0] = a.pub;
        Keys[1] = b.pub;
        KeyN = 2;
    }
    void TearDown() override {
        KeyN = 0;
        ClearOptionsKey();
    }
    // A launcher starting anew on the same game folder and site.
    void Fresh() {
        ResetState();
        server.Forget();
    }
    // A floor kept before this launcher's run: under key k, with the SHA-256
    // of the manifest of (none when null).
    void Floor(const TestKey &k, unsigned long long serial, const std::string *of = nullptr) {
        std::string digest = of ? Sha256(*of) : "";
        KeepRelease(k.pub.id, serial, of ? (const unsigned char *)digest.data() : nullptr);
    }
    // The floor as launchers before this one kept it: per site address, under
    // the MD5 of the address in capitals.
    void SiteFloor(const std::wstring &address, unsigned long long serial) {
        std::wstring up = address;
        CharUpperW(&up[0]);
        std::string name = "UpdateSerial " + Md5Of(std::string((const char *)up.data(), up.size() * 2)).substr(0, 16);
        ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, OPTIONS_KEY, Wide(name).c_str(), REG_QWORD, &serial, 8),
                  ERROR_SUCCESS);
    }
    // Site as the launcher reads it from the INI beside it, written address.
    void SiteFromIni(const std::wstring &address) {
        lstrcpyW(Ini, (game + L"\\" INI_NAME).c_str());
        ASSERT_TRUE(WriteBytes(Ini, "[Launcher]\r\nSite=" + Utf8(address) + "\r\n"));
        LoadOptions();
    }
    // A run of manifest doc, signed by `by` at serial: 1 when it was installed
    // (a.bin fetched or current), 0 when refused with nothing touched.
    bool Installs(const std::string &doc, unsigned long long serial, const TestKey &by) {
        Fresh();
        std::string sig = SignatureOf(doc, serial, by);
        Serve(doc, &sig);
        auto before = Snapshot(game);
        Publications pubs = Run();
        if (pubs.empty() || pubs.back().first == Refused) {
            ExpectRefused(pubs, before);
            return false;
        }
        EXPECT_TRUE(pubs.back() == std::make_pair(Updated, 1000) || pubs.back() == std::make_pair(Current, 1000))
            << Utf8(pubs.back().first);
        return true;
    }
    // Serves the manifest and, unless sig is null, the signature file.
    void Serve(const std::string &doc, const std::string *sig) {
        ASSERT_TRUE(WriteBytes(site + L"\\update\\lista.txt", doc));
        std::wstring sigPath = site + L"\\update\\lista.txt.sig";
        DeleteFileW(sigPath.c_str());
        if (sig) ASSERT_TRUE(WriteBytes(sigPath, *sig));
    }
    // A refused run: nothing requested beyond the manifest and its signature,
    // nothing on disk changed, the new text, and the game can be started.
    void ExpectRefused(const Publications &pubs, const std::map<std::wstring, std::string> &before) {
        ASSERT_FALSE(pubs.empty());
        EXPECT_EQ(pubs.back(), std::make_pair(Refused, 1000));
        EXPECT_TRUE(FileRequests().empty());
        EXPECT_TRUE(Snapshot(game) == before) << "the game folder changed";
        EXPECT_EQ(Ready, 1);
        EXPECT_EQ(Progress, 1000);
        ASSERT_FALSE(msgs.empty());
        EXPECT_EQ(msgs.back(), 1u);
    }
};

// ---- The check ------------------------------------------------------------------

TEST_F(Signed, EveryWayASignatureCanFail) {
    std::string good = SignatureOf(list, 100, a);
    auto flip = [](std::string s, size_t at) {
        s[at] = s[at] == '0' ? '1' : '0';
        return s;
    };
    std::string crlf;
    for (char c : list) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    std::string otherList = "b.bin|" + Md5Of("b") + "|1\n";
    std::string serialChanged = good;
    serialChanged.replace(good.find("serial 100"), 10, "serial 101");
    std::string huge = good + std::string(4 << 20, 'x');

    struct Case {
        const char *why;
        std::string list;  // the manifest served
        std::string sig;   // the signature file served ...
        const char *rule;  // ... unless answered this way
        unsigned long long floor = 0;  // kept before the run ...
        char under = 0;                // ... under key 'a' or 'b', or 's': per site address, by an older launcher
        std::string of = "";           // the manifest kept with it; "" none
    } cases[] = {
        {"an unknown key", list, SignatureOf(list, 100, other), 0},
        {"another key under a known key's id", list, SignatureOf(list, 100, other, &a), 0},
        {"one byte of the manifest flipped", flip(list, list.find('|') + 1), good, 0},
        {"one byte of the signature flipped", list, flip(good, good.size() - 10), 0},
        {"the serial changed after signing", list, serialChanged, 0},
        {"the signature truncated by one byte", list, good.substr(0, good.size() - 1), 0},
        {"the signature one byte too long", list, good + "\n", 0},
        {"the manifest re-saved with CR LF", crlf, good, 0},
        {"the signature of another manifest", list, SignatureOf(otherList, 100, a), 0},
        {"a serial lower than the floor", list, good, 0, 101, 'a'},
        {"a serial lower than the next key's floor", list, good, 0, 101, 'b'},
        {"a serial lower than the floor an older launcher kept for the site", list, good, 0, 101, 's'},
        // Two releases under one serial: the older must not pass for the newer.
        {"another manifest at the floor's serial", list, good, 0, 100, 'a', otherList},
        {"another manifest at the next key's floor", list, good, 0, 100, 'b', otherList},
        {"a signature file of several megabytes", list, huge, 0},
        {"an empty signature file", list, "", 0},
        {"the signature file answered 404", list, good, "status:404"},
        {"the signature file answered 500", list, good, "status:500"},
        {"the signature file not there", list, "", "none"},
        {"the signature file answered not at all", list, good, "dead"},
    };
    ASSERT_TRUE(WriteBytes(game + L"\\velho.bin", "o que o jogador tem"));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.why);
        ClearOptionsKey();
        if (c.under == 's') SiteFloor(Site, c.floor);
        else if (c.under) Floor(c.under == 'a' ? a : b, c.floor, c.of.empty() ? nullptr : &c.of);
        Fresh();
        Serve(c.list, strcmp(c.rule ? c.rule : "", "none") ? &c.sig : nullptr);
        if (c.rule && !strcmp(c.rule, "dead")) {
            // A host that takes no connection: a port nobody listens on.
            std::string to = Utf8(RefusedBase()) + "/update/lista.txt.sig";
            server.On("/update/lista.txt.sig", Rule::RedirectTo(to));
        } else if (c.rule && strcmp(c.rule, "none")) {
            Rule rule;
            ASSERT_TRUE(ParseRule(c.rule, rule));
            server.On("/update/lista.txt.sig", rule);
        }
        auto before = Snapshot(game);
        ExpectRefused(Run(), before);
        EXPECT_EQ(AcceptedSerial(), c.floor) << "a refused serial must not be remembered";
    }
}

// The kept copy of the manifest is checked against the signature the site
// serves now: one changed on disk (its own sum made to match) is refused,
// dropped and the manifest fetched whole, which then verifies.
TEST_F(Signed, AKeptManifestIsVerifiedAgainAndReplacedWhenItDoesNotVerify) {
    std::string sig = SignatureOf(list, 100, a);
    Serve(list, &sig);
    EXPECT_EQ(Run().back().first, Updated);
    wchar_t kept[PathLen];
    ASSERT_TRUE(KeptPath(game.c_str(), kept, PathLen));
    std::string copy = ReadBytes(kept), forged = "b.bin|" + Md5Of("b") + "|1\n";
    size_t body = copy.find("\n\n") + 2, md5 = copy.find("\nmd5 ") + 5;
    ASSERT_EQ(copy.substr(body), list);
    copy.replace(md5, 32, Md5Of(forged));
    copy.replace(copy.find("\nsize ") + 6, std::to_string(list.size()).size(), std::to_string(forged.size()));
    ASSERT_TRUE(WriteBytes(kept, copy.substr(0, copy.find("\n\n") + 2) + forged));
    Fresh();
    std::map<std::wstring, std::string> before = Snapshot(game);
    Publications pubs = Run();
    EXPECT_EQ(pubs.back().first, Current);
    EXPECT_EQ(server.Paths(), (std::vector<std::string>{"/api/launcher", "/update/lista.txt", "/update/lista.txt.sig",
                                                        "/update/lista.txt", "/update/lista.txt.sig"}));
    std::vector<int> statuses = server.Statuses();
    EXPECT_EQ(statuses[1], 304);
    EXPECT_EQ(statuses[3], 200);
    EXPECT_TRUE(Snapshot(game) == before);
    std::string again = ReadBytes(kept);
    EXPECT_EQ(again.substr(again.find("\n\n") + 2), list) << "the manifest kept anew";
    // The next start: a 304 and the kept copy, which verifies.
    Fresh();
    EXPECT_EQ(Run().back().first, Current);
    EXPECT_EQ(server.Statuses()[1], 304);
    EXPECT_EQ(server.Paths().size(), 3u);
}

// The kept copy's head carries the manifest's SHA-256, so that a start on a
// 304 knows the floor's own manifest without hashing it again. A digest
// spoilt on disk costs one whole fetch, and never becomes the floor, which
// would refuse the very release it stands for.
TEST_F(Signed, AKeptCopysDigestNeverBecomesTheFloor) {
    std::string sig = SignatureOf(list, 100, a);
    Serve(list, &sig);
    EXPECT_EQ(Run().back().first, Updated);
    wchar_t kept[PathLen];
    ASSERT_TRUE(KeptPath(game.c_str(), kept, PathLen));
    auto spoil = [&] {
        std::string copy = ReadBytes(kept);
        size_t at = copy.find("\nsha256 ");
        ASSERT_LT(at, copy.find("\n\n")) << "the head keeps the digest";
        copy.replace(at + 8, 64, std::string(64, 'e'));
        ASSERT_TRUE(WriteBytes(kept, copy));
    };
    // The answers to the manifest's requests: the first request asks the
    // server's status.
    auto answers = [&] {
        std::vector<int> s = server.Statuses();
        return std::vector<int>(s.begin() + 1, s.end());
    };
    spoil();
    Fresh();
    EXPECT_EQ(Run().back().first, Current);
    EXPECT_EQ(answers(), (std::vector<int>{304, 200, 200, 200})) << "fetched whole once";
    Fresh();
    EXPECT_EQ(Run().back().first, Current);
    EXPECT_EQ(answers(), (std::vector<int>{304, 200})) << "kept anew with its digest";

    // The same manifest signed again at a higher serial: still a 304.
    spoil();
    sig = SignatureOf(list, 101, a);
    ASSERT_TRUE(WriteBytes(site + L"\\update\\lista.txt.sig", sig));
    Fresh();
    EXPECT_EQ(Run().back().first, Current);
    EXPECT_EQ(answers(), (std::vector<int>{304, 200}));
    EXPECT_EQ(AcceptedSerial(), 101u);
    // Fetched whole, it is the floor's own manifest.
    ASSERT_TRUE(DeleteFileW(kept));
    Fresh();
    EXPECT_EQ(Run().back().first, Current);
}

TEST_F(Signed, EitherBuiltInKeyIsAcceptedAndTheHighestSerialRemembered) {
    struct Case {
        const char *why;
        TestKey *by;
        unsigned long long serial, floor, after;
        bool pinned;  // the floor was kept with this manifest
    } cases[] = {
        {"the current key, first run", &a, 1733540000, 0, 1733540000, false},
        {"the next key", &b, 1733540000, 0, 1733540000, false},
        {"the same release again", &a, 500, 500, 500, true},
        {"the same release signed again by the next key", &b, 500, 500, 500, true},
        // Kept by a launcher before the manifest was kept with the serial.
        {"the floor's serial, no manifest kept with it", &a, 500, 500, 500, false},
        {"a newer serial", &b, 501, 500, 501, true},
        {"a serial past 32 bits", &a, 9999999999999999999ULL, 4294967296ULL, 9999999999999999999ULL, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.why);
        ClearOptionsKey();
        if (c.floor) Floor(a, c.floor, c.pinned ? &list : nullptr);
        DeleteFileW((game + L"\\a.bin").c_str());
        EXPECT_TRUE(Installs(list, c.serial, *c.by));
        EXPECT_EQ(ReadBytes(game + L"\\a.bin"), content);
        EXPECT_EQ(AcceptedSerial(), c.after);
    }
}

// Release R1 accepted at serial S; then R2, another manifest signed at S,
// served to the player by someone on the way: refused, nothing fetched, R1's
// files stay. R1 itself keeps being accepted at every start.
TEST_F(Signed, AnEqualSerialPassesOnlyForTheSameManifest) {
    const std::string other = "arquivo de outra versão";
    const std::string r2 = "a.bin|" + Md5Of(other) + "|" + std::to_string(other.size()) + "\n";
    struct Step {
        const char *why;
        const std::string &manifest, &file;  // served, with a.bin's bytes
        unsigned long long serial;
        bool installs;
    } steps[] = {
        {"R1 at S", list, content, 5000, true},
        {"R2 at S", r2, other, 5000, false},
        {"R1 at S again", list, content, 5000, true},
        {"R2 at S + 1", r2, other, 5001, true},
        {"R1 at S + 1", list, content, 5001, false},
    };
    for (const Step &step : steps) {
        SCOPED_TRACE(step.why);
        std::string before = ReadBytes(game + L"\\a.bin");
        ASSERT_TRUE(WriteBytes(site + L"\\update\\files\\a.bin", step.file));
        EXPECT_EQ(Installs(step.manifest, step.serial, a), step.installs);
        EXPECT_EQ(ReadBytes(game + L"\\a.bin"), step.installs ? step.file : before);
    }
    // The same after an upgrade from a launcher that kept no manifest with
    // its floor: the first manifest accepted at the floor's serial pins it.
    ClearOptionsKey();
    SiteFloor(Site, 7000);
    EXPECT_FALSE(Installs(list, 6999, a));
    EXPECT_TRUE(Installs(r2, 7000, a));
    EXPECT_FALSE(Installs(list, 7000, a));
    EXPECT_TRUE(Installs(r2, 7000, a));
    EXPECT_EQ(AcceptedSerial(), 7000u);
}

// A signature names its key, not its site, so the floor is the key's: the
// site spelled another way (a trailing slash, capitals) or moved keeps it,
// and a floor launchers before kept per site address is taken over. A realm
// with a key of its own keeps its own floor.
TEST_F(Signed, TheFloorBelongsToTheKey) {
    WebServer moved;
    ASSERT_TRUE(moved.Start(site));
    const std::wstring here = Site;
    std::wstring shouting = here;
    CharUpperW(&shouting[0]);
    // Launchers before this one read the address with its slash and kept
    // their floor under that spelling.
    SiteFloor(here + L"/", 1000);
    struct Step {
        const char *why;
        std::wstring address;
        TestKey *key;  // the launcher's one key, the one the release is signed with
        unsigned long long serial;
        bool installs;
    } steps[] = {
        {"below the floor kept per address, written with a slash", here + L"/", &a, 999, false},
        {"at it", here + L"/", &a, 1000, true},
        {"a newer release", here, &a, 2000, true},
        {"an older one, the address with a trailing slash", here + L"/", &a, 1500, false},
        {"an older one, the address in capitals", shouting, &a, 1500, false},
        {"an older one from the address the site moved to", moved.Base(), &a, 1500, false},
        {"the moved site's newer release", moved.Base(), &a, 2500, true},
        {"another realm's launcher, with a key of its own", here, &other, 1200, true},
        {"an older release of the first realm again", here, &a, 2400, false},
    };
    for (const Step &step : steps) {
        SCOPED_TRACE(step.why);
        Keys[0] = step.key->pub;
        KeyN = 1;
        SiteFromIni(step.address);
        DeleteFileW((game + L"\\a.bin").c_str());
        EXPECT_EQ(Installs(list, step.serial, *step.key), step.installs);
        for (const std::string &p : server.Paths()) EXPECT_EQ(p.find("//"), std::string::npos) << p;
    }
    Keys[0] = a.pub;
    EXPECT_EQ(AcceptedSerial(), 2500u);
}

TEST_F(Signed, ALauncherWithoutKeysNeverAsksForTheSignature) {
    KeyN = 0;
    std::string sig = "velmora-sig 1\nbroken\n";
    Serve(list, &sig);
    Publications pubs = Run();
    EXPECT_EQ(pubs.back(), std::make_pair(Updated, 1000));
    for (const std::string &p : server.Paths()) EXPECT_EQ(p.find(".sig"), std::string::npos) << p;
    EXPECT_EQ(AcceptedSerial(), 0u);
}

// The serial lives beside the game's options: neither disturbs the other.
TEST_F(Signed, TheSerialAndTheOptionsLeaveEachOtherAlone) {
    std::wstring ini = game + L"\\" INI_NAME;
    lstrcpyW(Ini, ini.c_str());
    Music = 0;
    Volume = 0;
    ResIdx = 9;
    SaveOptions();
    std::string sig = SignatureOf(list, 777, a);
    Serve(list, &sig);
    Run();
    EXPECT_EQ(AcceptedSerial(), 777u);
    EXPECT_EQ(OptionDword(L"MusicOnOff"), 0);
    EXPECT_EQ(OptionDword(L"SoundOnOff"), 0);
    EXPECT_EQ(OptionDword(L"Resolution"), 4);
    Music = 1;
    Volume = 50;
    SaveOptions();
    EXPECT_EQ(AcceptedSerial(), 777u) << "saving the options lost the serial";
    EXPECT_EQ(OptionDword(L"MusicOnOff"), 1);
}

// ---- Self-update under a signed manifest ------------------------------------------

class SignedSelfUpdate : public Signed {
protected:
    HANDLE running = 0;
    std::wstring exe;
    std::string oldExe, newExe = "MZ novo launcher " + std::string(20000, 'n');

    void SetUp() override {
        Signed::SetUp();
        exe = game + L"\\VelmoraLauncher.exe";
        ASSERT_TRUE(CopyFileW(TEST_PROGRAMS L"\\holder.exe", exe.c_str(), FALSE));
        oldExe = ReadBytes(exe);
        running = Start(exe, L"", game);
        ASSERT_TRUE(running);
        ASSERT_TRUE(WriteBytes(site + L"\\update\\files\\VelmoraLauncher.exe", newExe));
        list = "VelmoraLauncher.exe|" + Md5Of(newExe) + "|" + std::to_string(newExe.size()) + "\n";
        std::string sig = SignatureOf(list, 1000, a);
        Serve(list, &sig);
    }
    void TearDown() override {
        Kill(running);
        Signed::TearDown();
    }
};

TEST_F(SignedSelfUpdate, TheNewLauncherIsInstalledAndRestarts) {
    Publications pubs = Run();
    EXPECT_EQ(pubs.back(), std::make_pair(Restarting, 1000));
    EXPECT_EQ(ReadBytes(exe), newExe);
    EXPECT_EQ(ReadBytes(exe + L".old"), oldExe);
    EXPECT_EQ(Restart, 1);
}

// The signature vouches for the manifest; each file is still held to its MD5.
TEST_F(SignedSelfUpdate, ATamperedLauncherIsRefusedByItsMd5) {
    ASSERT_TRUE(WriteBytes(site + L"\\update\\files\\VelmoraLauncher.exe", "MZ launcher de outra pessoa"));
    Publications pubs = Run();
    EXPECT_EQ(pubs.back(), std::make_pair(Corrupt, 1000));
    EXPECT_EQ(ReadBytes(exe), oldExe);
    EXPECT_FALSE(Exists(exe + L".old"));
    EXPECT_EQ(Restart, 0);
}

}  // namespace

