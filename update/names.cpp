#include "update/names.h"

#include <string.h>

// Windows opens a device, not a file, for a path part named CON, PRN, AUX, NUL,
// COM0-9 or LPT0-9 (also with the superscripts 1, 2, 3), CONIN$ or CONOUT$, in
// any case, whatever follows a dot and with trailing spaces: "dados\\aux.txt"
// and "Nul .bin" name devices. part holds n bytes.
static int Device(const char *part, size_t n) {
    size_t k = 0;
    while (k < n && part[k] != '.') k++;
    while (k > 0 && part[k - 1] == ' ') k--;
    if (k < 3 || k > 7) return 0;
    char s[8];
    for (size_t i = 0; i < k; i++) s[i] = part[i] >= 'A' && part[i] <= 'Z' ? part[i] + 32 : part[i];
    s[k] = 0;
    if (!strcmp(s, "con") || !strcmp(s, "prn") || !strcmp(s, "aux") || !strcmp(s, "nul") ||
        !strcmp(s, "conin$") || !strcmp(s, "conout$"))
        return 1;
    if (strncmp(s, "com", 3) && strncmp(s, "lpt", 3)) return 0;
    // A digit, or a superscript one, two or three in UTF-8 (C2 B9, C2 B2, C2 B3).
    if (k == 4) return s[3] >= '0' && s[3] <= '9';
    return k == 5 && s[3] == '\xC2' && (s[4] == '\xB9' || s[4] == '\xB2' || s[4] == '\xB3');
}

int NameFaultOf(const char *name) {
    if (!*name) return NameEmpty;
    if (strstr(name, "..")) return NameParent;
    if (name[0] == '/' || name[0] == '\\') return NameRooted;
    if (strchr(name, ':')) return NameDrive;
    for (const char *part = name;;) {
        size_t n = strcspn(part, "/\\");
        if (Device(part, n)) return NameDevice;
        if (!part[n]) return NameOk;
        part += n + 1;
    }
}
