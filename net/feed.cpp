#include "net/feed.h"

#include <limits.h>
#include <string.h>

#include "net/utf8.h"

// The value behind key when line starts with it, exactly and case-sensitively.
static char *After(char *line, const char *key) {
    size_t n = strlen(key);
    return strncmp(line, key, n) == 0 ? line + n : 0;
}

// Reads a number the way atoi does (leading white space, a sign, digits up to
// the first other byte, no digits = 0), but a value out of range saturates
// where atoi's behaviour is undefined.
static int ReadInt(const char *s) {
    while (*s == ' ' || (*s >= '\t' && *s <= '\r')) s++;
    int neg = *s == '-';
    if (*s == '-' || *s == '+') s++;
    long long v = 0;
    for (; *s >= '0' && *s <= '9'; s++) {
        v = v * 10 + (*s - '0');
        if (v > (long long)INT_MAX + 1) v = (long long)INT_MAX + 1;  // stays far from overflow
    }
    if (neg) return (int)-v;  // INT_MIN at most
    return v > INT_MAX ? INT_MAX : (int)v;
}

static void Apply(char *line, Feed *f) {
    char *v;
    if ((v = After(line, "status=")))
        f->up = ReadInt(v);
    else if ((v = After(line, "online=")))
        f->online = ReadInt(v);
    else if ((v = After(line, "servidor=")))
        Utf8To16(v, f->name, FeedNameLen);
    else if ((v = After(line, "noticia=")) && f->newsN < FeedNewsMax) {
        // The first bar splits title from body; later bars belong to the body.
        FeedItem *n = &f->news[f->newsN++];
        char *bar = strchr(v, '|');
        if (bar) *bar = 0;
        Utf8To16(v, n->title, FeedTextLen);
        if (!bar || !Utf8To16(bar + 1, n->body, FeedTextLen)) n->body[0] = 0;
    }
}

void ParseFeed(char *text, Feed *f) {
    f->up = 0;
    f->newsN = 0;
    // Editors on Windows put a byte-order mark in front of UTF-8; the first
    // key would not match behind it.
    if (!strncmp(text, "\xEF\xBB\xBF", 3)) text += 3;
    if (!*text) return;
    for (char *line = text;;) {
        char *lf = strchr(line, '\n');
        if (lf) {
            *lf = 0;
            // A feed saved on Windows ends its lines with CR LF; that one CR
            // is the line's end, not the value's, and must not cost a unit.
            if (lf > line && lf[-1] == '\r') lf[-1] = 0;
        }
        Apply(line, f);
        // A final line feed ends the document, it does not open an empty line.
        if (!lf || !lf[1]) return;
        line = lf + 1;
    }
}
