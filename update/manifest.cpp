#include "update/manifest.h"

#include <string.h>
#include <wchar.h>

#include "net/utf8.h"

// Reads a size the way strtoul reads base 10 (leading white space, digits up
// to the first other byte, no digits = 0), saturating instead of wrapping. A
// negative size means nothing and reads as 0, where strtoul would negate it.
static unsigned ReadSize(const char *s) {
    while (*s == ' ' || (*s >= '\t' && *s <= '\r')) s++;
    int neg = *s == '-';
    if (*s == '-' || *s == '+') s++;
    unsigned long long v = 0;
    for (; *s >= '0' && *s <= '9'; s++) {
        v = v * 10 + (unsigned)(*s - '0');
        if (v > 0xFFFFFFFFull) v = 0xFFFFFFFFull;
    }
    return neg ? 0 : (unsigned)v;
}

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

static int Unsafe(const char *name) {
    if (!*name || strstr(name, "..") || name[0] == '/' || name[0] == '\\' || strchr(name, ':'))
        return 1;
    for (const char *part = name;;) {
        size_t n = strcspn(part, "/\\");
        if (Device(part, n)) return 1;
        if (!part[n]) return 0;
        part += n + 1;
    }
}

// Takes one line into *e; 0 when the line is skipped.
static int Take(char *line, ManifestEntry *e) {
    char *bar = strchr(line, '|');
    if (!bar || bar - line >= EntryNameLen) return 0;
    char *bar2 = strchr(bar + 1, '|');
    if (!bar2 || bar2 - bar != Md5Len) return 0;
    // An empty name would also read as "already current" to the update run.
    if (bar == line) return 0;
    memcpy(e->name, line, (size_t)(bar - line));
    e->name[bar - line] = 0;
    memcpy(e->md5, bar + 1, Md5Len - 1);
    e->md5[Md5Len - 1] = 0;
    e->size = ReadSize(bar2 + 1);
    return !Unsafe(e->name);
}

int ParseManifest(char *text, ManifestEntry *e, int cap) {
    int n = 0;
    // Editors on Windows put a byte-order mark in front of UTF-8; it would
    // otherwise become the start of the first name.
    if (!strncmp(text, "\xEF\xBB\xBF", 3)) text += 3;
    if (!*text) return 0;
    for (char *line = text; n < cap;) {
        char *lf = strchr(line, '\n');
        if (lf) *lf = 0;
        if (Take(line, &e[n])) n++;
        if (!lf || !lf[1]) break;
        line = lf + 1;
    }
    return n;
}

int LocalPath(const wchar_t *dir, char *name, wchar_t *out, int cap) {
    for (char *p = name; *p; p++)
        if (*p == '/') *p = '\\';
    wchar_t w[EntryNameLen];  // 199 bytes never make more than 199 units
    size_t d = wcslen(dir);
    if (!Utf8To16(name, w, EntryNameLen) || cap < 1 || d + 1 + wcslen(w) >= (size_t)cap) {
        if (cap > 0) out[0] = 0;
        return 0;
    }
    wmemcpy(out, dir, d);
    out[d] = L'\\';
    wcscpy(out + d + 1, w);
    return (int)wcslen(out);
}
