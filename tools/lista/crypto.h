// The crypto lista needs, from a maintained library: libcrypto (OpenSSL) on
// Linux, CNG on Windows (crypto_openssl.cpp, crypto_cng.cpp). Nothing here is
// computed by hand.
#pragma once
#include <cstddef>
#include <string>

// MD5 of a stream of bytes, for the manifest.
class Md5 {
public:
    Md5();
    ~Md5();
    Md5(const Md5 &) = delete;
    Md5 &operator=(const Md5 &) = delete;
    void Update(const void *data, size_t n);
    std::string HexDigest();  // 32 lowercase hex digits; ends the hash

private:
    void *impl_;
};

// An ECDSA P-256 key: the public point X then Y (64 bytes, big-endian) and,
// for a private key, the scalar d (32 bytes). Raw bytes in std::string.
struct EcKey {
    std::string xy;
    std::string d;
};

// Lowercase hex of bytes (sign.cpp).
std::string Hex(const std::string &bytes);

// Each returns false, with a line on stderr, when the library fails.
bool Sha256(const std::string &data, std::string &digest);  // 32 bytes
bool NewKey(EcKey &key);
// ECDSA over a SHA-256 digest with key.d: r then s, 32 bytes each.
bool SignDigest(const EcKey &key, const std::string &digest, std::string &rs);
// True when rs is a valid signature of digest by the public key key.xy.
bool VerifyDigest(const EcKey &key, const std::string &digest, const std::string &rs);
