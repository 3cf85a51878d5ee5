#include "update/partial.h"

#include <string.h>

#include "app/state.h"
#include "update/place.h"

enum { RecordCap = 1024 };  // the four lines with validators at their longest fit

// temp ("X.novo") turned into its resume record's path ("X.retomar"); 0 when it
// does not fit the path fields, in which case nothing is ever resumed.
static int ResumePath(const wchar_t *temp, wchar_t *out) {
    int n = lstrlenW(temp);
    if (n < 5 || n - 5 + 8 >= PathLen) return 0;
    lstrcpynW(out, temp, n - 5 + 1);
    lstrcpyW(out + n - 5, L".retomar");
    return 1;
}

// The value of "key=" in the record text: copied into out of cap bytes, 1;
// 0 when the key is missing or its value does not fit.
static int Value(const char *text, const char *key, char *out, int cap) {
    int k = lstrlenA(key);
    for (const char *line = text; *line;) {
        const char *end = strchr(line, '\n');
        int len = end ? (int)(end - line) : lstrlenA(line);
        if (len > k && !memcmp(line, key, k) && line[k] == '=') {
            if (len - k - 1 >= cap) return 0;
            memcpy(out, line + k + 1, len - k - 1);
            out[len - k - 1] = 0;
            return 1;
        }
        line += end ? len + 1 : len;
    }
    return 0;
}

static int Hex32(const char *s) {
    for (int i = 0; i < 32; i++)
        if (!((s[i] >= '0' && s[i] <= '9') || (s[i] >= 'a' && s[i] <= 'f'))) return 0;
    return s[32] == 0;
}

// 1 when s is printable ASCII only, as download.cpp takes validators from a
// server: a record is a file anyone may have changed, and its validator goes
// back to the site in an If-Range line, where a CR LF would add lines of its
// own and a byte above 0x7E would reach the request garbled.
static int Printable(const char *s) {
    for (; *s; s++)
        if ((unsigned char)*s < 0x20 || (unsigned char)*s > 0x7E) return 0;
    return 1;
}

int ReadPartial(const wchar_t *temp, Partial *p) {
    char text[RecordCap], num[24];
    wchar_t rec[PathLen];
    DWORD n = 0;
    memset(p, 0, sizeof *p);
    if (!ResumePath(temp, rec)) return 0;
    HANDLE f = CreateFileW(rec, GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0);
    if (f == INVALID_HANDLE_VALUE) return 0;
    BOOL read = ReadFile(f, text, RecordCap - 1, &n, 0);
    CloseHandle(f);
    if (!read || n == RecordCap - 1) return 0;  // a record this long is none of ours
    text[n] = 0;
    if (strncmp(text, "retomar=1\n", 10) != 0) return 0;
    if (!Value(text, "md5", p->md5, sizeof p->md5) || !Hex32(p->md5)) goto bad;
    if (!Value(text, "size", num, sizeof num) || !num[0]) goto bad;
    for (const char *c = num; *c; c++) {
        if (*c < '0' || *c > '9' || p->size > 0xFFFFFFFFull) goto bad;
        p->size = p->size * 10 + (unsigned)(*c - '0');
    }
    Value(text, "etag", p->etag, ValidatorLen);
    Value(text, "modified", p->modified, ValidatorLen);
    if ((p->etag[0] || p->modified[0]) && Printable(p->etag) && Printable(p->modified)) return 1;
bad:
    memset(p, 0, sizeof *p);
    return 0;
}

// Appends s to out (used bytes *n of cap); 0 when it does not fit.
static int Put(char *out, int *n, int cap, const char *s) {
    int k = lstrlenA(s);
    if (*n + k >= cap) return 0;
    memcpy(out + *n, s, k + 1);
    *n += k;
    return 1;
}

int WritePartial(const wchar_t *temp, const Partial *p) {
    char text[RecordCap], num[24];
    wchar_t rec[PathLen];
    int n = 0;
    if (!ResumePath(temp, rec) || p->size > 0xFFFFFFFFull) return 0;  // manifest sizes are 32-bit
    wsprintfA(num, "%lu", (unsigned long)p->size);
    int ok = Put(text, &n, RecordCap, "retomar=1\nmd5=") && Put(text, &n, RecordCap, p->md5) &&
             Put(text, &n, RecordCap, "\nsize=") && Put(text, &n, RecordCap, num) &&
             Put(text, &n, RecordCap, "\n");
    if (ok && p->etag[0])
        ok = Put(text, &n, RecordCap, "etag=") && Put(text, &n, RecordCap, p->etag) &&
             Put(text, &n, RecordCap, "\n");
    if (ok && p->modified[0])
        ok = Put(text, &n, RecordCap, "modified=") && Put(text, &n, RecordCap, p->modified) &&
             Put(text, &n, RecordCap, "\n");
    if (!ok) return 0;
    Writable(rec);
    HANDLE f = CreateFileW(rec, GENERIC_WRITE, 0, 0, CREATE_ALWAYS, 0, 0);
    if (f == INVALID_HANDLE_VALUE) return 0;
    DWORD w = 0;
    BOOL wrote = WriteFile(f, text, (DWORD)n, &w, 0) && w == (DWORD)n;
    CloseHandle(f);
    if (!wrote) Erase(rec);
    return wrote;
}

void DropRecord(const wchar_t *temp) {
    wchar_t rec[PathLen];
    if (ResumePath(temp, rec)) Erase(rec);
}

void DropPartial(const wchar_t *temp) {
    Erase(temp);
    DropRecord(temp);
}

unsigned long long ResumeFrom(const wchar_t *temp, const char *md5, unsigned long long size, Partial *p) {
    WIN32_FILE_ATTRIBUTE_DATA d;
    int there = GetFileAttributesExW(temp, GetFileExInfoStandard, &d) &&
                !(d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    unsigned long long have = there ? ((unsigned long long)d.nFileSizeHigh << 32) | d.nFileSizeLow : 0;
    if (there && ReadPartial(temp, p) && !lstrcmpiA(p->md5, md5) && p->size == size && have <= size)
        return have;
    memset(p, 0, sizeof *p);
    if (there) Erase(temp);
    DropRecord(temp);
    return 0;
}

void KeepPartial(const wchar_t *temp, const char *md5, unsigned long long size) {
    Partial p;
    if (md5)
        ResumeFrom(temp, md5, size, &p);
    else
        DropPartial(temp);
}

int DropStray(const wchar_t *temp) {
    Partial p;
    wchar_t rec[PathLen];
    if (!ResumePath(temp, rec) || !ReadPartial(temp, &p)) return 1;
    // A folder under the partial's name is none: only the record goes.
    DWORD a = GetFileAttributesW(temp);
    if (a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY) && !Erase(temp)) return 0;
    return Erase(rec);
}
