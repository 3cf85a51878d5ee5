#include "update/kept.h"

#include <string.h>

#include "app/state.h"
#include "update/chunkmap.h"
#include "update/hashrec.h"
#include "update/md5.h"

enum { HeadCap = 2048 };  // the head's lines at their longest fit (a site of 255 units, 3 bytes each)

static wchar_t Next[PathLen];  // the copy KeepList wrote, until CommitKept

// What the kept copy's head says.
struct Head {
    DocVersion v;
    char md5[33];
    unsigned size;
    unsigned char digest[32];
    int digested;  // the head gives the digest
};

// Reads the kept copy's head into h, with where the bytes start; 0 when it
// is missing or is none of this site's. Lines after those it knows are left
// for later heads.
static int ReadHead(HANDLE f, Head *h, DWORD *start) {
    char head[HeadCap], site[SiteLen * 3];
    DWORD n = 0;
    if (!ReadFile(f, head, HeadCap - 1, &n, 0)) return 0;
    head[n] = 0;
    char *end = strstr(head, "\n\n");
    if (!end || strncmp(head, "velmora-lista 1\n", 16)) return 0;
    end[1] = 0;
    *start = (DWORD)(end + 2 - head);
    if (!WideCharToMultiByte(CP_UTF8, 0, Site, -1, site, sizeof site, 0, 0)) return 0;
    // Each line as the head's format has it, in its order.
    const char *keys[] = {"site ", "etag ", "modified ", "md5 ", "size "};
    char *line = head + 16, *value[5];
    for (int k = 0; k < 5; k++) {
        char *lf = strchr(line, '\n');
        if (!lf || strncmp(line, keys[k], strlen(keys[k]))) return 0;
        *lf = 0;
        value[k] = line + strlen(keys[k]);
        line = lf + 1;
    }
    if (strcmp(value[0], site) || strlen(value[1]) >= ValidatorLen || strlen(value[2]) >= ValidatorLen ||
        strlen(value[3]) != 32)
        return 0;
    lstrcpyA(h->v.etag, value[1]);
    lstrcpyA(h->v.modified, value[2]);
    lstrcpyA(h->md5, value[3]);
    h->size = 0;
    for (const char *c = value[4]; *c; c++) {
        if (*c < '0' || *c > '9' || h->size > ListMax) return 0;
        h->size = h->size * 10 + (unsigned)(*c - '0');
    }
    char *lf = strchr(line, '\n');
    if (lf) *lf = 0;
    h->digested = lf && !strncmp(line, "sha256 ", 7) && HexBytes(line + 7, h->digest, sizeof h->digest);
    return value[4][0] && h->size <= ListMax;
}

// The kept copy, open for reading; a new copy may replace it meanwhile.
static HANDLE OpenKept() {
    wchar_t path[PathLen];
    if (!KeptPath(Dir, path, PathLen)) return INVALID_HANDLE_VALUE;
    return CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, 0, OPEN_EXISTING,
                       FILE_FLAG_SEQUENTIAL_SCAN, 0);
}

// The kept copy open at its manifest's first byte, with its head in h;
// INVALID_HANDLE_VALUE when there is none of this site.
static HANDLE OpenBytes(Head *h) {
    HANDLE f = OpenKept();
    DWORD start;
    if (f != INVALID_HANDLE_VALUE && ReadHead(f, h, &start) && SetFilePointer(f, (LONG)start, 0, FILE_BEGIN) == start)
        return f;
    if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
    return INVALID_HANDLE_VALUE;
}

HANDLE KeptBytes(unsigned *size) {
    Head h = {};
    HANDLE f = OpenBytes(&h);
    *size = h.size;
    return f;
}

int KeptVersion(DocVersion *v) {
    Head h = {};
    HANDLE f = OpenBytes(&h);
    if (f == INVALID_HANDLE_VALUE) {
        memset(v, 0, sizeof *v);
        return 0;
    }
    *v = h.v;
    CloseHandle(f);
    return 1;
}

int KeptList(char *buf, int cap, int sum, unsigned char digest[32], int *digested) {
    Head h = {};
    char got[33], more;
    DWORD n = 0;
    HANDLE f = OpenBytes(&h);
    *digested = 0;
    if (f == INVALID_HANDLE_VALUE) return -1;
    int ok = h.size < (unsigned)cap && ReadFile(f, buf, h.size, &n, 0) && n == h.size;
    ok = ok && ReadFile(f, &more, 1, &n, 0) && n == 0;  // nothing behind the bytes
    CloseHandle(f);
    if (!ok || (sum && (!DataMd5(buf, h.size, got) || lstrcmpiA(got, h.md5)))) return -1;
    buf[h.size] = 0;
    memcpy(digest, h.digest, sizeof h.digest);
    *digested = h.digested;
    return (int)h.size;
}

void KeepList(const char *list, int n, const DocVersion *v, const unsigned char *digest) {
    wchar_t path[PathLen], folder[PathLen];
    char md5[33], site[SiteLen * 3], head[HeadCap], sha[80] = "";
    Next[0] = 0;
    if (!KeptPath(Dir, path, PathLen)) return;
    if (!v->etag[0] && !v->modified[0]) {
        DeleteFileW(path);  // it would be asked for with the wrong version
        return;
    }
    lstrcpyW(folder, path);
    *wcsrchr(folder, L'\\') = 0;
    CreateDirectoryW(folder, 0);
    if (!DataMd5(list, (unsigned long)n, md5) || !WideCharToMultiByte(CP_UTF8, 0, Site, -1, site, sizeof site, 0, 0))
        return;
    char size[16];
    wsprintfA(size, "%d", n);
    if (digest) {
        lstrcpyA(sha, "sha256 ");
        for (int i = 0; i < 32; i++) wsprintfA(sha + 7 + 2 * i, "%02x", digest[i]);
        lstrcatA(sha, "\n");
    }
    const char *parts[] = {"velmora-lista 1\nsite ", site, "\netag ", v->etag, "\nmodified ", v->modified,
                           "\nmd5 ", md5, "\nsize ", size, "\n", sha, "\n"};
    int h = 0;
    for (const char *p : parts) {
        lstrcpyA(head + h, p);
        h += lstrlenA(p);
    }
    wsprintfW(Next, L"%s.new", path);
    HANDLE f = CreateFileW(Next, GENERIC_WRITE, 0, 0, CREATE_ALWAYS, FILE_FLAG_SEQUENTIAL_SCAN, 0);
    if (f == INVALID_HANDLE_VALUE) {
        Next[0] = 0;
        return;
    }
    DWORD w1 = 0, w2 = 0;
    int ok = WriteFile(f, head, (DWORD)h, &w1, 0) && w1 == (DWORD)h && WriteFile(f, list, (DWORD)n, &w2, 0) &&
             w2 == (DWORD)n;
    CloseHandle(f);
    if (!ok) {
        DeleteFileW(Next);
        Next[0] = 0;
    }
}

void CommitKept(int accepted) {
    wchar_t path[PathLen];
    if (!Next[0]) return;
    if (!accepted || !KeptPath(Dir, path, PathLen) || !MoveFileExW(Next, path, MOVEFILE_REPLACE_EXISTING))
        DeleteFileW(Next);
    Next[0] = 0;
}

void DropKept() {
    wchar_t path[PathLen];
    if (KeptPath(Dir, path, PathLen)) DeleteFileW(path);
}
