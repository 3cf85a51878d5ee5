// MD5 (RFC 1321), portable, for the manifest tool on any system.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

struct Md5 {
    uint32_t a = 0x67452301, b = 0xefcdab89, c = 0x98badcfe, d = 0x10325476;
    uint64_t length = 0;  // bytes hashed so far
    unsigned char block[64];
    size_t used = 0;      // bytes waiting in block

    void Update(const void *data, size_t n);
    std::string HexDigest();  // 32 lowercase hex digits; ends the hash
};
