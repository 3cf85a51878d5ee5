#include "update/signature.h"

#include <windows.h>

#include <bcrypt.h>
#include <string.h>

#include "app/options.h"
#include "app/state.h"
#include "keys.h"  // generated from VELMORA_KEYS
#include "net/http.h"
#include "update/md5.h"

PublicKey Keys[KeyMax] = BUILT_KEYS;
int KeyN = BUILT_KEY_COUNT;

#define RELEASE_VALUE L"UpdateRelease"
#define SERIAL_VALUE L"UpdateSerial"  // older launchers: per site address

enum {
    // A well-formed signature file has about 200 bytes. The fetch reads at
    // most SigCap - 1, so a huge answer costs nothing and fails the parse.
    SigCap = 512,
    // SHA-256's hash object needs a few hundred bytes; it lives on the stack.
    HashObjMax = 1024,
    DigestLen = 32,
    RsLen = 64,
};

// The algorithm providers are opened once and kept for the process, like
// FileMd5's: opening one costs more than a whole check.
static BCRYPT_ALG_HANDLE ShaAlg, EcAlg;

// Past word at p, or 0 when the text there is not word.
static const char *Take(const char *p, const char *end, const char *word) {
    for (; *word; word++, p++)
        if (p == end || *p != *word) return 0;
    return p;
}

// n bytes from 2n lowercase hexadecimal digits; 0 at any other character.
static int Hex(const char *p, int n, unsigned char *out) {
    for (int i = 0; i < 2 * n; i++) {
        char c = p[i];
        int v = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (v < 0) return 0;
        if (i & 1) out[i / 2] = (unsigned char)(out[i / 2] << 4 | v);
        else out[i / 2] = (unsigned char)v;
    }
    return 1;
}

// SHA-256 of a followed by b, through a hash object on the stack (the
// one-call BCryptHash arrived only with Windows 10).
static int Sha256(const char *a, int na, const char *b, int nb, unsigned char out[DigestLen]) {
    if (!ShaAlg && BCryptOpenAlgorithmProvider(&ShaAlg, BCRYPT_SHA256_ALGORITHM, 0, 0) != 0) {
        ShaAlg = 0;
        return 0;
    }
    UCHAR obj[HashObjMax];
    DWORD objLen = 0, got = 0;
    if (BCryptGetProperty(ShaAlg, BCRYPT_OBJECT_LENGTH, (PUCHAR)&objLen, sizeof objLen, &got, 0) != 0 ||
        objLen > sizeof obj)
        return 0;
    BCRYPT_HASH_HANDLE h = 0;
    int ok = BCryptCreateHash(ShaAlg, &h, obj, objLen, 0, 0, 0) == 0 &&
             BCryptHashData(h, (PUCHAR)a, (ULONG)na, 0) == 0 &&
             BCryptHashData(h, (PUCHAR)b, (ULONG)nb, 0) == 0 &&
             BCryptFinishHash(h, out, DigestLen, 0) == 0;
    if (h) BCryptDestroyHash(h);
    return ok;
}

static int VerifyWith(const PublicKey *k, unsigned char digest[DigestLen], unsigned char rs[RsLen]) {
    if (!EcAlg && BCryptOpenAlgorithmProvider(&EcAlg, BCRYPT_ECDSA_P256_ALGORITHM, 0, 0) != 0) {
        EcAlg = 0;
        return 0;
    }
    struct {
        BCRYPT_ECCKEY_BLOB head;
        unsigned char xy[KeyXyLen];
    } blob;
    blob.head.dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
    blob.head.cbKey = KeyXyLen / 2;
    CopyMemory(blob.xy, k->xy, KeyXyLen);
    BCRYPT_KEY_HANDLE key = 0;
    // A point that is not on the curve fails the import or the check.
    int ok = BCryptImportKeyPair(EcAlg, 0, BCRYPT_ECCPUBLIC_BLOB, &key, (PUCHAR)&blob, sizeof blob, 0) == 0 &&
             BCryptVerifySignature(key, 0, digest, DigestLen, rs, RsLen, 0) == 0;
    if (key) BCryptDestroyKey(key);
    return ok;
}

int VerifySignature(const char *list, int n, const char *sig, int len, unsigned long long *serial, int *by) {
    const char *p = sig, *end = sig + (len > 0 ? len : 0);
    unsigned char id[KeyIdLen], rs[RsLen], digest[DigestLen];
    if (!(p = Take(p, end, "velmora-sig 1\nkey ")) || end - p < 2 * KeyIdLen + 1 || !Hex(p, KeyIdLen, id) ||
        p[2 * KeyIdLen] != '\n')
        return 0;
    p += 2 * KeyIdLen + 1;
    // Canonical decimal only, so that one serial has one spelling: no sign,
    // no leading zero, at most 19 digits (every such number fits 64 bits).
    if (!(p = Take(p, end, "serial "))) return 0;
    const char *digits = p;
    unsigned long long s = 0;
    while (p < end && *p >= '0' && *p <= '9' && p - digits < 20) s = s * 10 + (unsigned)(*p++ - '0');
    if (p == digits || p - digits > 19 || (*digits == '0' && p - digits > 1) || p == end || *p != '\n')
        return 0;
    const char *header = ++p;  // the signed header ends here
    if (!(p = Take(p, end, "sig ")) || end - p != 2 * RsLen + 1 || !Hex(p, RsLen, rs) || p[2 * RsLen] != '\n')
        return 0;

    int k = 0;
    while (k < KeyN && k < KeyMax && memcmp(Keys[k].id, id, KeyIdLen)) k++;
    if (k == KeyN || k == KeyMax || !Sha256(sig, (int)(header - sig), list, n, digest) ||
        !VerifyWith(&Keys[k], digest, rs))
        return 0;
    *serial = s;
    if (by) *by = k;
    return 1;
}

// ---- The floor ---------------------------------------------------------------
// A signature names its key, not its site: a release signed by the key is
// accepted from any address, so the floor of serials belongs to the key.
// Under "UpdateRelease <key id in hex>" the registry keeps the serial last
// accepted under that key (8 bytes, little-endian) and the SHA-256 of the
// manifest accepted with it (32 bytes), written in one value so that neither
// is ever kept without the other.

struct Kept {
    unsigned long long serial;
    unsigned char digest[DigestLen];  // all zero: not known (a floor taken over from an older launcher)
};
static_assert(sizeof(Kept) == 40, "the registry value's layout is fixed");

static void ReleaseValue(const unsigned char id[KeyIdLen], wchar_t *name) {
    lstrcpyW(name, RELEASE_VALUE L" ");
    int at = lstrlenW(name);
    for (int i = 0; i < KeyIdLen; i++) {
        name[at++] = L"0123456789abcdef"[id[i] >> 4];
        name[at++] = L"0123456789abcdef"[id[i] & 15];
    }
    name[at] = 0;
}

// 1 when the registry value name holds exactly size bytes of type type, read
// into out.
static int ReadValue(const wchar_t *name, DWORD type, void *out, DWORD size) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, OPTIONS_KEY, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return 0;
    DWORD got = 0, n = size;
    int ok = RegQueryValueExW(key, name, 0, &got, (BYTE *)out, &n) == ERROR_SUCCESS && got == type && n == size;
    RegCloseKey(key);
    return ok;
}

// Launchers before the floor was the key's kept it per site address, in
// "UpdateSerial <16 hex digits of the MD5 of the address in capitals>"
// (REG_QWORD). The highest of those of this Site, as written now or with the
// trailing slash it may have had then.
static unsigned long long SiteSerial() {
    unsigned long long best = 0;
    for (int slash = 0; slash < 2; slash++) {
        wchar_t site[SiteLen + 1], name[32];
        char md5[33];
        lstrcpynW(site, Site, SiteLen);
        if (slash) lstrcatW(site, L"/");
        CharUpperW(site);
        if (!DataMd5(site, (unsigned long)(lstrlenW(site) * sizeof(wchar_t)), md5)) continue;
        lstrcpyW(name, SERIAL_VALUE L" ");
        int at = lstrlenW(name);
        for (int i = 0; i < 16; i++) name[at + i] = (wchar_t)md5[i];
        name[at + 16] = 0;
        unsigned long long v = 0;
        if (ReadValue(name, REG_QWORD, &v, sizeof v) && v > best) best = v;
    }
    return best;
}

// The floor of this launcher's keys (one operator's current and next key):
// the highest serial kept under any of them, with whether a manifest digest
// is known for it (*pinned) and whether digest is that one (*same). Before
// any of them has one, the floor an older launcher kept for this Site.
static unsigned long long Floor(const unsigned char digest[DigestLen], int *pinned, int *same) {
    unsigned long long floor = 0;
    int any = 0;
    *pinned = *same = 0;
    for (int i = 0; i < KeyN && i < KeyMax; i++) {
        wchar_t name[40];
        Kept k;
        ReleaseValue(Keys[i].id, name);
        if (!ReadValue(name, REG_BINARY, &k, sizeof k)) continue;
        if (!any || k.serial > floor) *pinned = *same = 0;
        if (!any || k.serial >= floor) {
            static const unsigned char none[DigestLen] = {};
            floor = k.serial;
            if (memcmp(k.digest, none, DigestLen)) {
                *pinned = 1;
                *same |= !memcmp(k.digest, digest, DigestLen);
            }
        }
        any = 1;
    }
    return any ? floor : SiteSerial();
}

unsigned long long AcceptedSerial() {
    unsigned char none[DigestLen] = {};
    int pinned, same;
    return Floor(none, &pinned, &same);
}

// Only this one value is written: the game's three options beside it are the
// settings store's alone.
void KeepRelease(const unsigned char id[KeyIdLen], unsigned long long serial, const unsigned char *digest) {
    wchar_t name[40];
    Kept k = {};
    HKEY key;
    k.serial = serial;
    if (digest) memcpy(k.digest, digest, DigestLen);
    ReleaseValue(id, name);
    if (RegCreateKeyExW(HKEY_CURRENT_USER, OPTIONS_KEY, 0, 0, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, 0, &key, 0) !=
        ERROR_SUCCESS)
        return;
    RegSetValueExW(key, name, 0, REG_BINARY, (const BYTE *)&k, sizeof k);
    RegCloseKey(key);
}

int ManifestDigest(const char *list, int n, unsigned char out[ManifestDigestLen]) {
    return Sha256(list, n, "", 0, out);
}

int SignatureAccepted(const char *list, int n, const unsigned char *known) {
    if (!KeyN) return 1;
    wchar_t url[SiteLen + 32];
    wsprintfW(url, L"%s/update/lista.txt.sig", Site);
    char sig[SigCap];
    unsigned long long serial;
    unsigned char digest[DigestLen];
    int by, pinned, same;
    int len = HttpGet(url, sig, SigCap);
    if (len < 0 || !VerifySignature(list, n, sig, len, &serial, &by)) return 0;
    if (known) memcpy(digest, known, DigestLen);
    else if (!Sha256(list, n, "", 0, digest)) return 0;
    // An older release is a replay meant to roll the player back. So is
    // another manifest under the floor's own serial: two releases can come to
    // carry one serial (a site signed again with --serial, a build number
    // used twice), and the older of them would pass for the newer. The same
    // release again is fine: every start fetches it.
    unsigned long long floor = Floor(digest, &pinned, &same);
    if (serial < floor || (serial == floor && pinned && !same)) return 0;
    // A floor without its manifest (taken over from an older launcher) gets
    // it from the first manifest accepted at its serial. A digest given is
    // only as good as the file that kept it: one spoilt there that became
    // the floor would refuse the very release it stands for.
    if (serial > floor || !pinned) {
        if (known && !Sha256(list, n, "", 0, digest)) return 0;
        KeepRelease(Keys[by].id, serial, digest);
    }
    return 1;
}
