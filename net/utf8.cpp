#include "net/utf8.h"

#include <windows.h>

int Utf8To16(const char *src, wchar_t *dst, int cap) {
    if (cap < 1) return 0;
    if (MultiByteToWideChar(CP_UTF8, 0, src, -1, dst, cap) > 0) return 1;
    dst[0] = 0;  // a value too long may have been written in part
    return 0;
}
