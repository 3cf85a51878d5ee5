#include "update/md5.h"

#include <windows.h>

#include <wincrypt.h>

enum { ChunkLen = 65536 };

void (*Md5Hook)(const wchar_t *);

// A new MD5 hash object, or 0. The provider is acquired once and kept for the
// life of the process: acquiring it costs milliseconds, which a folder of
// small files feels. Several lanes may ask at once: one of them keeps its
// provider, the others let theirs go.
static HCRYPTHASH NewHash() {
    static HCRYPTPROV prov;
    HCRYPTHASH hash = 0;
    if (!prov) {
        HCRYPTPROV p;
        if (!CryptAcquireContextW(&p, 0, 0, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) return 0;
        if (InterlockedCompareExchangePointer((void **)&prov, (void *)p, 0) != 0) CryptReleaseContext(p, 0);
    }
    if (!CryptCreateHash(prov, CALG_MD5, 0, 0, &hash)) return 0;
    return hash;
}

// Ends hash (which may be 0); when ok, writes its digest into out as text.
static int Finish(HCRYPTHASH hash, int ok, char out[33]) {
    BYTE digest[16];
    DWORD len = sizeof digest;
    if (ok) ok = CryptGetHashParam(hash, HP_HASHVAL, digest, &len, 0) && len == 16;
    if (hash) CryptDestroyHash(hash);
    if (!ok) return 0;
    static const char hex[] = "0123456789abcdef";
    for (int i = 0; i < 16; i++) {
        out[2 * i] = hex[digest[i] >> 4];
        out[2 * i + 1] = hex[digest[i] & 15];
    }
    out[32] = 0;
    return 1;
}

int FileMd5(const wchar_t *path, char out[33]) {
    if (Md5Hook) Md5Hook(path);
    // Another program may hold the file open for reading or writing.
    HANDLE f = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, 0,
                           OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, 0);
    if (f == INVALID_HANDLE_VALUE) return 0;
    HCRYPTHASH hash = NewHash();
    int ok = hash != 0;
    // A read that fails half-way must not vouch for the half it read.
    BYTE buf[ChunkLen];
    DWORD n;
    while (ok) {
        if (!ReadFile(f, buf, ChunkLen, &n, 0)) ok = 0;
        else if (!n) break;
        else ok = CryptHashData(hash, buf, n, 0);
    }
    CloseHandle(f);
    return Finish(hash, ok, out);
}

int DataMd5(const void *data, unsigned long n, char out[33]) {
    HCRYPTHASH hash = NewHash();
    return Finish(hash, hash && CryptHashData(hash, (const BYTE *)data, n, 0), out);
}

int Md5Matches(const wchar_t *path, const char *md5) {
    char got[33];
    return FileMd5(path, got) && lstrcmpiA(got, md5) == 0;
}

int Md5Begin(Md5Sum *s) {
    *s = NewHash();
    return *s != 0;
}

int Md5Add(Md5Sum *s, const void *data, unsigned long n) {
    return *s && CryptHashData((HCRYPTHASH)*s, (const BYTE *)data, n, 0);
}

int Md5End(Md5Sum *s, int ok, char out[33]) {
    int done = Finish((HCRYPTHASH)*s, ok && *s, out);
    *s = 0;
    return done;
}
