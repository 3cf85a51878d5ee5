#include "update/survey.h"

#include <windows.h>

#include <stddef.h>
#include <string.h>

#include "app/state.h"
#include "net/utf8.h"
#include "update/ahead.h"
#include "update/lanes.h"
#include "update/tables.h"

static ManifestEntry *E;
static int N;
static int *Names;    // open addressing: entry + 1, 0 = free; Mask + 1 slots
static int *Folders;  // the same for the first entry of each folder
static int *FolderList, FolderN;  // those entries, in manifest order
static int *FolderOf;                // each entry's folder: its first entry
static unsigned Mask;
static Facts *Found;        // the survey's facts, one per entry
static unsigned char *Got;  // what became of each folder's listing, kept at its first entry

// ---- Names as Windows compares them ----------------------------------------------

// The entry's name in UTF-16 with "\" between folders, into w (EntryNameLen
// units); its length, 0 when it does not convert.
static int Wide(const char *name, int len, wchar_t *w) {
    char n[EntryNameLen];
    if (len <= 0 || len >= EntryNameLen) return 0;
    // ASCII, as most game files' names are, is its own UTF-16.
    int k = 0;
    while (k < len && (unsigned char)name[k] < 0x80 && name[k]) {
        w[k] = name[k] == '/' ? L'\\' : (wchar_t)name[k];
        k++;
    }
    if (k == len) {
        w[k] = 0;
        return k;
    }
    memcpy(n, name, (size_t)len);
    n[len] = 0;
    if (!Utf8To16(n, w, EntryNameLen)) return 0;
    for (k = 0; w[k]; k++)
        if (w[k] == L'/') w[k] = L'\\';
    return k;
}

// A hash that names differing only in letter case share. Letters outside
// ASCII fold as the system folds them; where that differs from the file
// system's own rule, a name is only not found, and looked at by itself.
static unsigned Hash(const wchar_t *w, int n) {
    unsigned h = 2166136261u;
    for (int i = 0; i < n; i++) {
        wchar_t c = w[i];
        if (c >= L'a' && c <= L'z') c = (wchar_t)(c - 32);
        else if (c >= 0x80) c = (wchar_t)(ULONG_PTR)CharUpperW((LPWSTR)(ULONG_PTR)c);
        h = (h ^ c) * 16777619u;
    }
    return h;
}

static int Same(const wchar_t *a, int na, const wchar_t *b, int nb) {
    return na == nb && CompareStringOrdinal(a, na, b, nb, TRUE) == CSTR_EQUAL;
}

// Where the folder part of w ends: the last "\", or 0 for the top folder.
static int FolderLen(const wchar_t *w, int n) {
    while (n > 0 && w[n - 1] != L'\\') n--;
    return n > 0 ? n - 1 : 0;
}

// Whether the UTF-8 name, or (folder set) its folder part, is the key w (n
// units) in any letter case, as far as plain ASCII tells: 1 or 0, -1 when
// the key's units or the name's first n bytes go beyond it. Most game files
// are named in ASCII, and this spares them a conversion.
static int AsciiSame(const char *name, const wchar_t *w, int n, int folder) {
    for (int k = 0; k < n; k++) {
        unsigned c = (unsigned char)name[k], x = w[k];
        if (c >= 0x80 || x >= 0x80) return -1;
        if (c == '/') c = '\\';
        if (c - 'a' < 26) c -= 32;
        if (x - 'a' < 26) x -= 32;
        if (c != x) return 0;
    }
    if (!folder) return !name[n];
    // Its folder part ends at its last separator: at n, or nowhere for n 0.
    if (n && name[n] != '/' && name[n] != '\\') return 0;
    for (const char *p = name + (n ? n + 1 : 0); *p; p++)
        if (*p == '/' || *p == '\\') return 0;
    return 1;
}

// The slot of the table t where the key w (n units) is or would go; which
// says whether an entry's key is the same: its name, or its folder.
static int *Slot(int *t, const wchar_t *w, int n, int folder) {
    wchar_t o[EntryNameLen];
    for (unsigned s = Hash(w, n) & Mask;; s = (s + 1) & Mask) {
        if (!t[s]) return &t[s];
        const char *name = E[t[s] - 1].name;
        int same = AsciiSame(name, w, n, folder);
        if (same < 0) {
            int k = Wide(name, lstrlenA(name), o);
            same = Same(o, folder ? FolderLen(o, k) : k, w, n);
        }
        if (same) return &t[s];
    }
}

int IndexNames(ManifestEntry *e, int n) {
    E = e;
    N = 0;
    FolderN = 0;
    unsigned slots = 16;
    while (slots < 2u * (unsigned)n) slots <<= 1;
    Mask = slots - 1;
    Names = (int *)Take(slots * sizeof(int));
    Folders = (int *)Take(slots * sizeof(int));
    FolderList = (int *)Take((size_t)n * sizeof(int) + 16);
    FolderOf = (int *)Take((size_t)n * sizeof(int) + 16);
    if (!Names || !Folders || !FolderList || !FolderOf) return 0;
    N = n;
    for (int i = 0; i < n; i++) {
        wchar_t w[EntryNameLen];
        int k = Wide(e[i].name, lstrlenA(e[i].name), w);
        FolderOf[i] = -1;
        if (!k) continue;
        int *s = Slot(Names, w, k, 0);
        if (*s) {
            e[i].flags |= EntryAgain;
            continue;
        }
        *s = i + 1;
        int f = FolderLen(w, k);
        s = Slot(Folders, w, f, 1);
        if (!*s) {
            *s = i + 1;
            FolderList[FolderN++] = i;
        }
        FolderOf[i] = *s - 1;
    }
    return 1;
}

int EntryNamed(const char *name, int len) {
    wchar_t w[EntryNameLen];
    int k = N ? Wide(name, len, w) : 0;
    if (!k) return -1;
    int *s = Slot(Names, w, k, 0);
    return *s ? *s - 1 : -1;
}

// ---- Listings ----------------------------------------------------------------------

// FILE_ID_BOTH_DIR_INFO records, 8-byte aligned, a piece of a folder at a
// time; one buffer for each lane that lists.
static unsigned long long Listing[LaneMax][8192];
static Lookout Lookouts[LaneMax];

static FILE_ID_BOTH_DIR_INFO *At(unsigned long long *list, DWORD at) {
    return (FILE_ID_BOTH_DIR_INFO *)((BYTE *)list + at);
}

// The entry a listed name stands for: the file itself, or (partial set) its
// partial download "X.novo" or its record "X.retomar". key holds the folder's
// part (base units) and room for the name.
static int Named(wchar_t *key, int base, const wchar_t *name, int n, int *partial) {
    *partial = 0;
    static const wchar_t *const tails[] = {L".novo", L".retomar"};
    wchar_t last = n ? (wchar_t)(name[n - 1] | 0x20) : 0;  // "o" or "r", in any case, before a closer look
    for (const wchar_t *tail : tails) {
        if (last != tail[lstrlenW(tail) - 1]) continue;
        int t = lstrlenW(tail);
        if (n > t && CompareStringOrdinal(name + n - t, t, tail, t, TRUE) == CSTR_EQUAL) {
            n -= t;
            *partial = 1;
            break;
        }
    }
    if (base + n >= EntryNameLen) return -1;
    memcpy(key + base, name, (size_t)n * sizeof(wchar_t));
    int *s = Slot(Names, key, base + n, 0);
    return *s - 1;
}

// Whether every folder from Dir down to the one at path (Dir's d units, "\",
// its f units) is a plain folder, and so on the volume of every other such
// folder: only another volume's root, a junction or a link leads elsewhere,
// and each is a reparse point. Folders the last plain one shares with it
// are not looked at again; the listings come in the manifest's order, where
// neighbours share their parents.
static int Plain(Lookout *o, wchar_t *path, int d, int f) {
    const wchar_t *w = path + d + 1;
    int same = 0;  // units of w, whole folders, known plain
    for (int k = 0; k < f && k < o->len && w[k] == o->plain[k];) {
        k++;
        if ((k == f || w[k] == L'\\') && (k == o->len || o->plain[k] == L'\\')) same = k;
    }
    for (int e = same + 1; e <= f; e++) {
        if (e < f && w[e] != L'\\') continue;
        wchar_t end = path[d + 1 + e];
        path[d + 1 + e] = 0;
        DWORD a = GetFileAttributesW(path);
        path[d + 1 + e] = end;
        if (a == INVALID_FILE_ATTRIBUTES || (a & FILE_ATTRIBUTE_REPARSE_POINT)) return 0;
    }
    if (f) memcpy(o->plain, w, (size_t)f * sizeof(wchar_t));
    o->len = f;
    return 1;
}

int ListInto(const wchar_t *folder, int f, unsigned long long *buf, DWORD cap, ListedName seen, void *ctx,
             DWORD *serial, Lookout *o) {
    wchar_t path[PathLen];
    int d = lstrlenW(Dir);
    if (d + 1 + f >= PathLen || f >= EntryNameLen) return 0;
    lstrcpyW(path, Dir);
    if (f) {
        path[d] = L'\\';
        memcpy(path + d + 1, folder, (size_t)f * sizeof(wchar_t));
        path[d + 1 + f] = 0;
    }
    int plain = Plain(o, path, d, f);
    HANDLE h = CreateFileW(path, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, 0);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD why = GetLastError();
        return why == ERROR_FILE_NOT_FOUND || why == ERROR_PATH_NOT_FOUND ? 2 : 0;
    }
    // The volume serial as a file's handle tells it (Look), which is not
    // always what the volume's own information says (Wine: 0 on tmpfs).
    BY_HANDLE_FILE_INFORMATION about;
    int whole = 0, known = plain && o->asked;
    if (known || GetFileInformationByHandle(h, &about)) {
        *serial = known ? o->serial : about.dwVolumeSerialNumber;
        if (plain) {
            o->serial = *serial;
            o->asked = 1;
        }
        FILE_INFO_BY_HANDLE_CLASS c = FileIdBothDirectoryRestartInfo;
        while (GetFileInformationByHandleEx(h, c, buf, cap)) {
            c = FileIdBothDirectoryInfo;
            for (DWORD at = 0;; at += At(buf, at)->NextEntryOffset) {
                seen(ctx, At(buf, at));
                if (!At(buf, at)->NextEntryOffset) break;
            }
        }
        whole = GetLastError() == ERROR_NO_MORE_FILES;
    }
    CloseHandle(h);
    return whole;
}

// What one listed name tells of the entry it stands for, into Found.
static void Note(wchar_t *key, int base, const wchar_t *name, int n, DWORD attributes, unsigned long long size,
                 unsigned long long time, unsigned long long index, DWORD serial) {
    int partial, i = Named(key, base, name, n, &partial);
    if (i >= 0 && partial) {
        Found[i].partial = 1;
    } else if (i >= 0 && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        Facts *x = &Found[i];
        x->size = size;
        x->time = time;
        x->index = index;
        x->volume = serial;
        x->state = FactsThere;
    }
}

// A folder's key: its part of the names (f units of w), "\" after it unless
// it is the game folder itself; the units of that part.
static int FolderKey(wchar_t *key, const wchar_t *w, int f) {
    memcpy(key, w, (size_t)f * sizeof(wchar_t));
    if (f) key[f] = L'\\';
    return f ? f + 1 : 0;
}

struct Folder {
    wchar_t key[EntryNameLen];
    int base;
    DWORD serial;
};

static void Noted(void *ctx, const FILE_ID_BOTH_DIR_INFO *r) {
    Folder *f = (Folder *)ctx;
    Note(f->key, f->base, r->FileName, (int)(r->FileNameLength / sizeof(wchar_t)), r->FileAttributes,
         (unsigned long long)r->EndOfFile.QuadPart, (unsigned long long)r->LastWriteTime.QuadPart,
         (unsigned long long)r->FileId.QuadPart, f->serial);
}

// Lists the folder whose names start with the f units of w: as ListInto.
static int ListFolder(const wchar_t *w, int f, int lane) {
    if (f >= EntryNameLen - 1) return 0;
    Folder folder;
    folder.base = FolderKey(folder.key, w, f);
    return ListInto(w, f, Listing[lane], sizeof Listing[0], Noted, &folder, &folder.serial, &Lookouts[lane]);
}

// The survey's pass over the folders: each lane lists folders of its own,
// and writes the facts of their entries only.
static const wchar_t *ListJob(int lane, int j) {
    wchar_t w[EntryNameLen];
    int i = FolderList[j];
    if (Got[i]) return 0;  // listed ahead
    int k = Wide(E[i].name, lstrlenA(E[i].name), w);
    Got[i] = (unsigned char)ListFolder(w, FolderLen(w, k), lane);
    return 0;
}

// Takes over the folders listed ahead (update/ahead.h) as they come, until
// every folder is listed or the look ahead has no more; how many are left.
static int TakeAhead() {
    int left = FolderN;
    AheadFolder a;
    for (int k = 0; left && AheadFolderAt(k, &a); k++) {
        if (!a.got || a.len >= EntryNameLen - 1) continue;  // listed below
        int *s = Slot(Folders, a.name, a.len, 1);
        if (!*s || Got[*s - 1]) continue;  // a folder the manifest does not name, or listed already
        wchar_t key[EntryNameLen];
        int base = FolderKey(key, a.name, a.len);
        const AheadName *n = a.first;
        for (int j = 0; j < a.count; j++, n = AheadNext(n))
            Note(key, base, (const wchar_t *)(n + 1), n->len, n->attributes, n->size, n->time, n->index, a.serial);
        Got[*s - 1] = (unsigned char)a.got;
        left--;
    }
    // What it would list now is of no use to this run.
    AheadStop();
    return left;
}

static int ListLanes;
static HANDLE Lister;  // the thread that runs the lanes, while there is one

static DWORD WINAPI ListAll(void *) {
    if (TakeAhead()) RunLanes(ListLanes, FolderN, ListJob);
    for (int i = 0; i < N; i++)
        if (Found[i].state == FactsUnknown && FolderOf[i] >= 0 && Got[FolderOf[i]]) Found[i].state = FactsGone;
    return 0;
}

void SurveyStart(Facts *facts, int lanes) {
    Found = facts;
    ListLanes = lanes;
    memset(Lookouts, 0, sizeof Lookouts);
    // Taken here: the tables are not for two threads at once.
    Got = (unsigned char *)Take((size_t)N + 16);
    if (!Got) return;
    Lister = CreateThread(0, 0, ListAll, 0, 0, 0);
    if (!Lister) ListAll(0);
}

void SurveyEnd() {
    if (!Lister) return;
    WaitForSingleObject(Lister, INFINITE);
    CloseHandle(Lister);
    Lister = 0;
}

int Look(const wchar_t *path, Facts *f) {
    memset(f, 0, sizeof *f);
    WIN32_FILE_ATTRIBUTE_DATA a;
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &a) || (a.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return 0;
    HANDLE h = CreateFileW(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0,
                           OPEN_EXISTING, 0, 0);
    if (h == INVALID_HANDLE_VALUE) return 0;
    BY_HANDLE_FILE_INFORMATION i;
    int ok = GetFileInformationByHandle(h, &i);
    CloseHandle(h);
    if (!ok) return 0;
    f->size = (unsigned long long)a.nFileSizeHigh << 32 | a.nFileSizeLow;
    f->time = (unsigned long long)a.ftLastWriteTime.dwHighDateTime << 32 | a.ftLastWriteTime.dwLowDateTime;
    f->index = (unsigned long long)i.nFileIndexHigh << 32 | i.nFileIndexLow;
    f->volume = i.dwVolumeSerialNumber;
    f->state = FactsThere;
    return 1;
}
