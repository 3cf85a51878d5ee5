#include "update/manifest.h"

#include <string.h>
#include <wchar.h>

#include "net/utf8.h"
#include "update/names.h"

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

// Takes one line into *e (when e is not null); 0 when the line is skipped.
static int Take(char *line, ManifestEntry *e) {
    char *bar = strchr(line, '|');
    if (!bar || bar == line || bar - line >= EntryNameLen) return 0;
    char *bar2 = strchr(bar + 1, '|');
    if (!bar2 || bar2 - bar != Md5Len) return 0;
    *bar = 0;
    if (NameFaultOf(line) != NameOk) return 0;
    *bar2 = 0;
    if (e) {
        e->name = line;
        e->md5 = bar + 1;
        e->size = ReadSize(bar2 + 1);
        e->flags = 0;
    }
    return 1;
}

int ParseManifest(char *text, ManifestEntry *e, int cap) {
    int n = 0;
    // Editors on Windows put a byte-order mark in front of UTF-8; it would
    // otherwise become the start of the first name.
    if (!strncmp(text, "\xEF\xBB\xBF", 3)) text += 3;
    if (!*text) return 0;
    // Past cap the lines are only counted: a manifest cut at the table's
    // size would pass its first files for the whole release.
    for (char *line = text;;) {
        char *lf = strchr(line, '\n');
        if (lf) *lf = 0;
        if (Take(line, n < cap ? &e[n] : 0) && ++n > cap) return -1;
        if (!lf || !lf[1]) break;
        line = lf + 1;
    }
    return n;
}

int Join(wchar_t *out, int cap, const wchar_t *a, const wchar_t *b) {
    size_t na = wcslen(a), nb = wcslen(b);
    if (cap < 1) return 0;
    out[0] = 0;
    if (na + nb >= (size_t)cap) return 0;
    wmemcpy(out, a, na);
    wcscpy(out + na, b);
    return 1;
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
