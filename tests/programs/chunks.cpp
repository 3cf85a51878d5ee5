// The launcher's plan for a delta, for the Linux-side tests:
//   chunks MAP FILE MD5 SIZE
// takes MAP as the chunk map of a new file of that MD5 and size, reads FILE
// as the player's copy, and prints one line per chunk of the map: its offset,
// its length, and where FILE holds it (-1 when it does not). Exit 1 when the
// map is refused or FILE cannot be read, 2 on bad usage.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <string>

#include "update/delta.h"

int wmain(int argc, wchar_t **argv) {
    if (argc != 5) return 2;
    std::ifstream in(argv[1], std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    std::string map = s.str();
    char md5[33];
    if (WideCharToMultiByte(CP_UTF8, 0, argv[3], -1, md5, sizeof md5, 0, 0) != 33) return 2;
    uint64_t size = _wcstoui64(argv[4], 0, 10);
    if (!DeltaReserve(size) || !TakeMap((const unsigned char *)map.data(), map.size(), size, md5) ||
        IndexLocal(argv[2]) < 0)
        return 1;
    for (uint32_t i = 0; i < MapChunks(); i++) {
        uint64_t at, from;
        uint32_t len;
        MapChunk(i, &at, &len, &from);
        printf("%llu %u %lld\n", (unsigned long long)at, len, from == HeldNowhere ? -1LL : (long long)from);
    }
    return 0;
}
