#include "update/signature.h"

#include <windows.h>

#include <bcrypt.h>

#include "app/options.h"
#include "app/state.h"
#include "keys.h"  // generated from VELMORA_KEYS
#include "net/http.h"
#include "update/md5.h"

PublicKey Keys[KeyMax] = BUILT_KEYS;
int KeyN = BUILT_KEY_COUNT;

#define SERIAL_VALUE L"UpdateSerial"

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

int VerifySignature(const char *list, int n, const char *sig, int len, unsigned long long *serial) {
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

    const PublicKey *key = 0;
    for (int i = 0; i < KeyN && i < KeyMax && !key; i++) {
        int same = 1;
        for (int b = 0; b < KeyIdLen; b++) same &= Keys[i].id[b] == id[b];
        if (same) key = &Keys[i];
    }
    if (!key || !Sha256(sig, (int)(header - sig), list, n, digest) || !VerifyWith(key, digest, rs)) return 0;
    *serial = s;
    return 1;
}

// The registry value of this site's serial: "UpdateSerial " and 16 hex digits
// of the MD5 of Site in capitals. Several sites (realms, a test server) may
// serve the same game to one Windows user, each with releases of its own:
// one shared serial would refuse whichever site published last the longest
// ago. 0 when it cannot be formed.
static int SerialValue(wchar_t *name) {
    wchar_t site[SiteLen];
    lstrcpynW(site, Site, SiteLen);
    CharUpperW(site);
    char md5[33];
    if (!DataMd5(site, (unsigned long)(lstrlenW(site) * sizeof(wchar_t)), md5)) return 0;
    lstrcpyW(name, SERIAL_VALUE L" ");
    int at = lstrlenW(name);
    for (int i = 0; i < 16; i++) name[at + i] = (wchar_t)md5[i];
    name[at + 16] = 0;
    return 1;
}

unsigned long long AcceptedSerial() {
    wchar_t name[32];
    HKEY key;
    if (!SerialValue(name) || RegOpenKeyExW(HKEY_CURRENT_USER, OPTIONS_KEY, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return 0;
    unsigned long long v = 0;
    DWORD type = 0, size = sizeof v;
    if (RegQueryValueExW(key, name, 0, &type, (BYTE *)&v, &size) != ERROR_SUCCESS || type != REG_QWORD ||
        size != sizeof v)
        v = 0;
    RegCloseKey(key);
    return v;
}

// Only this one value is written: the game's three options beside it are the
// settings store's alone.
void KeepSerial(unsigned long long v) {
    wchar_t name[32];
    HKEY key;
    if (!SerialValue(name) || RegCreateKeyExW(HKEY_CURRENT_USER, OPTIONS_KEY, 0, 0, REG_OPTION_NON_VOLATILE,
                                              KEY_SET_VALUE, 0, &key, 0) != ERROR_SUCCESS)
        return;
    RegSetValueExW(key, name, 0, REG_QWORD, (const BYTE *)&v, sizeof v);
    RegCloseKey(key);
}

int SignatureAccepted(const char *list, int n) {
    if (!KeyN) return 1;
    wchar_t url[SiteLen + 32];
    wsprintfW(url, L"%s/update/lista.txt.sig", Site);
    char sig[SigCap];
    unsigned long long serial;
    int len = HttpGet(url, sig, SigCap);
    if (len < 0 || !VerifySignature(list, n, sig, len, &serial)) return 0;
    // The same release again is fine (every start fetches it); an older one
    // is a replay meant to roll the player back.
    unsigned long long known = AcceptedSerial();
    if (serial < known) return 0;
    if (serial > known) KeepSerial(serial);
    return 1;
}
