// The launcher's signature check on files, for the Linux-side tests:
//   sigcheck KEYS MANIFEST SIG
// KEYS holds public key lines as 'lista keygen' prints them. Exit 0 and
// "serial=N" on stdout when SIG verifies for MANIFEST; 1 when it does not;
// 2 on bad usage.
#include <windows.h>

#include <shellapi.h>
#include <stdio.h>

#include <fstream>
#include <sstream>
#include <string>

#include "update/signature.h"

static std::string Read(const wchar_t *path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

static bool Unhex(const std::string &hex, unsigned char *out, size_t n) {
    if (hex.size() != 2 * n) return false;
    for (size_t i = 0; i < n; i++) out[i] = (unsigned char)std::stoul(hex.substr(2 * i, 2), nullptr, 16);
    return true;
}

int wmain(int argc, wchar_t **argv) {
    if (argc != 4) return 2;
    std::istringstream keys(Read(argv[1]));
    std::string word, version, id, xy;
    KeyN = 0;
    while (KeyN < KeyMax && keys >> word >> version >> id >> xy) {
        if (word != "velmora-key" || version != "1" || !Unhex(id, Keys[KeyN].id, KeyIdLen) ||
            !Unhex(xy, Keys[KeyN].xy, KeyXyLen))
            return 2;
        KeyN++;
    }
    std::string list = Read(argv[2]), sig = Read(argv[3]);
    unsigned long long serial = 0;
    if (!VerifySignature(list.data(), (int)list.size(), sig.data(), (int)sig.size(), &serial)) return 1;
    printf("serial=%llu\n", serial);
    return 0;
}
