// lista.exe's crypto: Windows' CNG (bcrypt.dll), as the launcher uses it.
#include <windows.h>

#include <bcrypt.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "crypto.h"

namespace {

bool Fail(const char *what, NTSTATUS s) {
    fprintf(stderr, "lista: CNG: %s failed (0x%08lx)\n", what, (unsigned long)s);
    return false;
}

// Providers are opened once and kept for the process.
BCRYPT_ALG_HANDLE Provider(const wchar_t *name) {
    static BCRYPT_ALG_HANDLE md5, sha, ec;
    BCRYPT_ALG_HANDLE *slot = !lstrcmpW(name, BCRYPT_MD5_ALGORITHM)      ? &md5
                              : !lstrcmpW(name, BCRYPT_SHA256_ALGORITHM) ? &sha
                                                                         : &ec;
    if (!*slot) {
        NTSTATUS s = BCryptOpenAlgorithmProvider(slot, name, nullptr, 0);
        if (s) {
            *slot = nullptr;
            Fail("opening an algorithm", s);
        }
    }
    return *slot;
}

struct Hash {
    std::vector<UCHAR> object;
    BCRYPT_HASH_HANDLE h = nullptr;
    ULONG len = 0;

    bool Start(const wchar_t *alg) {
        BCRYPT_ALG_HANDLE a = Provider(alg);
        DWORD objLen = 0, got = 0;
        NTSTATUS s;
        if (!a) return false;
        if ((s = BCryptGetProperty(a, BCRYPT_OBJECT_LENGTH, (PUCHAR)&objLen, sizeof objLen, &got, 0)) ||
            (s = BCryptGetProperty(a, BCRYPT_HASH_LENGTH, (PUCHAR)&len, sizeof len, &got, 0)))
            return Fail("hash properties", s);
        object.resize(objLen);
        if ((s = BCryptCreateHash(a, &h, object.data(), objLen, nullptr, 0, 0))) return Fail("creating a hash", s);
        return true;
    }
    bool Add(const void *data, size_t n) {
        NTSTATUS s = BCryptHashData(h, (PUCHAR)data, (ULONG)n, 0);
        return !s || Fail("hashing", s);
    }
    bool Finish(std::string &out) {
        out.assign(len, '\0');
        NTSTATUS s = BCryptFinishHash(h, (PUCHAR)&out[0], len, 0);
        return !s || Fail("finishing a hash", s);
    }
    ~Hash() {
        if (h) BCryptDestroyHash(h);
    }
};

// The key as CNG takes it: a BCRYPT_ECCKEY_BLOB, then X, Y and for a
// private key d.
std::string Blob(const EcKey &k) {
    BCRYPT_ECCKEY_BLOB head;
    head.dwMagic = k.d.empty() ? BCRYPT_ECDSA_PUBLIC_P256_MAGIC : BCRYPT_ECDSA_PRIVATE_P256_MAGIC;
    head.cbKey = 32;
    return std::string((const char *)&head, sizeof head) + k.xy + k.d;
}

BCRYPT_KEY_HANDLE Import(const EcKey &k) {
    BCRYPT_ALG_HANDLE a = Provider(BCRYPT_ECDSA_P256_ALGORITHM);
    if (!a || k.xy.size() != 64 || !(k.d.empty() || k.d.size() == 32)) return nullptr;
    std::string blob = Blob(k);
    BCRYPT_KEY_HANDLE key = nullptr;
    NTSTATUS s = BCryptImportKeyPair(a, nullptr, k.d.empty() ? BCRYPT_ECCPUBLIC_BLOB : BCRYPT_ECCPRIVATE_BLOB,
                                     &key, (PUCHAR)blob.data(), (ULONG)blob.size(), 0);
    return s ? nullptr : key;
}

}  // namespace

Md5::Md5() : impl_(new Hash) {
    if (!((Hash *)impl_)->Start(BCRYPT_MD5_ALGORITHM)) exit(2);  // never a wrong digest in a manifest
}

Md5::~Md5() { delete (Hash *)impl_; }

void Md5::Update(const void *data, size_t n) {
    if (!((Hash *)impl_)->Add(data, n)) exit(2);
}

std::string Md5::HexDigest() {
    std::string d;
    if (!((Hash *)impl_)->Finish(d) || d.size() != 16) exit(2);
    return Hex(d);
}

bool Sha256(const std::string &data, std::string &digest) {
    Hash h;
    return h.Start(BCRYPT_SHA256_ALGORITHM) && h.Add(data.data(), data.size()) && h.Finish(digest) &&
           digest.size() == 32;
}

bool NewKey(EcKey &k) {
    BCRYPT_ALG_HANDLE a = Provider(BCRYPT_ECDSA_P256_ALGORITHM);
    BCRYPT_KEY_HANDLE key = nullptr;
    NTSTATUS s;
    if (!a) return false;
    if ((s = BCryptGenerateKeyPair(a, &key, 256, 0)) || (s = BCryptFinalizeKeyPair(key, 0))) {
        if (key) BCryptDestroyKey(key);
        return Fail("key generation", s);
    }
    UCHAR blob[sizeof(BCRYPT_ECCKEY_BLOB) + 96];
    ULONG len = 0;
    s = BCryptExportKey(key, nullptr, BCRYPT_ECCPRIVATE_BLOB, blob, sizeof blob, &len, 0);
    BCryptDestroyKey(key);
    if (s || len != sizeof blob) return Fail("key export", s);
    const char *p = (const char *)blob + sizeof(BCRYPT_ECCKEY_BLOB);
    k.xy.assign(p, 64);
    k.d.assign(p + 64, 32);
    SecureZeroMemory(blob, sizeof blob);
    return true;
}

bool SignDigest(const EcKey &k, const std::string &digest, std::string &rs) {
    BCRYPT_KEY_HANDLE key = Import(k);
    if (!key) return Fail("loading the private key", 0);
    rs.assign(64, '\0');
    ULONG len = 0;
    NTSTATUS s = BCryptSignHash(key, nullptr, (PUCHAR)digest.data(), (ULONG)digest.size(), (PUCHAR)&rs[0], 64,
                                &len, 0);
    BCryptDestroyKey(key);
    return (!s && len == 64) || Fail("signing", s);
}

bool VerifyDigest(const EcKey &k, const std::string &digest, const std::string &rs) {
    if (rs.size() != 64) return false;
    BCRYPT_KEY_HANDLE key = Import(EcKey{k.xy, ""});
    if (!key) return false;
    NTSTATUS s = BCryptVerifySignature(key, nullptr, (PUCHAR)digest.data(), (ULONG)digest.size(),
                                       (PUCHAR)rs.data(), 64, 0);
    BCryptDestroyKey(key);
    return !s;
}
