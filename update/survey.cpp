#include "update/survey.h"

#include <windows.h>

#include <stddef.h>
#include <string.h>

#include "app/state.h"
#include "net/utf8.h"
#include "update/lanes.h"
#include "update/tables.h"

static ManifestEntry *E;
static int N;
static int *Names;    // open addressing: entry + 1, 0 = free; Mask + 1 slots
static int *Folders;  // the same for the first entry of each folder
static int *FolderList, FolderN;  // those entries, in manifest order
static int *FolderOf;                // each entry's folder: its first entry
static unsigned Mask;

// ---- Names as Windows compares them ----------------------------------------------

// The entry's name in UTF-16 with "\" between folders, into w (EntryNameLen
// units); its length, 0 when it does not convert.
static int Wide(const char *name, int len, wchar_t *w) {
    char n[EntryNameLen];
    if (len <= 0 || len >= EntryNameLen) return 0;
    memcpy(n, name, (size_t)len);
    n[len] = 0;
    if (!Utf8To16(n, w, EntryNameLen)) return 0;
    int k = 0;
    for (; w[k]; k++)
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

// The slot of the table t where the key w (n units) is or would go; which
// says whether an entry's key is the same: its name, or its folder.
static int *Slot(int *t, const wchar_t *w, int n, int folder) {
    wchar_t o[EntryNameLen];
    for (unsigned s = Hash(w, n) & Mask;; s = (s + 1) & Mask) {
        if (!t[s]) return &t[s];
        int k = Wide(E[t[s] - 1].name, lstrlenA(E[t[s] - 1].name), o);
        if (folder) k = FolderLen(o, k);
        if (Same(o, k, w, n)) return &t[s];
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

static FILE_ID_BOTH_DIR_INFO *At(unsigned long long *list, DWORD at) {
    return (FILE_ID_BOTH_DIR_INFO *)((BYTE *)list + at);
}

// The entry a listed name stands for: the file itself, or (partial set) its
// partial download "X.novo" or its record "X.retomar". key holds the folder's
// part (base units) and room for the name.
static int Named(wchar_t *key, int base, const wchar_t *name, int n, int *partial) {
    *partial = 0;
    static const wchar_t *const tails[] = {L".novo", L".retomar"};
    for (const wchar_t *tail : tails) {
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

// Lists the folder whose first entry is first (w: its name, f units of
// folder): 1 when the whole listing was read, 2 when the folder is missing,
// 0 when it could not be listed.
static int ListFolder(Facts *facts, const wchar_t *w, int f, unsigned long long *list) {
    wchar_t path[PathLen], key[EntryNameLen];
    int d = lstrlenW(Dir);
    if (d + 1 + f >= PathLen) return 0;
    lstrcpyW(path, Dir);
    if (f) {
        path[d] = L'\\';
        memcpy(path + d + 1, w, (size_t)f * sizeof(wchar_t));
        path[d + 1 + f] = 0;
    }
    HANDLE h = CreateFileW(path, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, 0);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD why = GetLastError();
        return why == ERROR_FILE_NOT_FOUND || why == ERROR_PATH_NOT_FOUND ? 2 : 0;
    }
    // The volume serial as a file's handle tells it (Look), which is not
    // always what the volume's own information says (Wine: 0 on tmpfs).
    BY_HANDLE_FILE_INFORMATION folder;
    int whole = 0;
    if (GetFileInformationByHandle(h, &folder)) {
        DWORD serial = folder.dwVolumeSerialNumber;
        memcpy(key, w, (size_t)f * sizeof(wchar_t));
        int base = f ? f + 1 : 0;
        if (f) key[f] = L'\\';
        FILE_INFO_BY_HANDLE_CLASS c = FileIdBothDirectoryRestartInfo;
        while (GetFileInformationByHandleEx(h, c, list, sizeof Listing[0])) {
            c = FileIdBothDirectoryInfo;
            for (DWORD at = 0;; at += At(list, at)->NextEntryOffset) {
                FILE_ID_BOTH_DIR_INFO *r = At(list, at);
                int partial, i = Named(key, base, r->FileName, (int)(r->FileNameLength / sizeof(wchar_t)), &partial);
                if (i >= 0 && partial) {
                    facts[i].partial = 1;
                } else if (i >= 0 && !(r->FileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                    Facts *x = &facts[i];
                    x->size = (unsigned long long)r->EndOfFile.QuadPart;
                    x->time = (unsigned long long)r->LastWriteTime.QuadPart;
                    x->index = (unsigned long long)r->FileId.QuadPart;
                    x->volume = serial;
                    x->state = FactsThere;
                }
                if (!r->NextEntryOffset) break;
            }
        }
        whole = GetLastError() == ERROR_NO_MORE_FILES;
    }
    CloseHandle(h);
    return whole;
}

// The survey's pass over the folders: each lane lists folders of its own,
// and writes the facts of their entries only.
static Facts *Found;
static unsigned char *Got;  // what became of each folder's listing, kept at its first entry

static const wchar_t *ListJob(int lane, int j) {
    wchar_t w[EntryNameLen];
    int i = FolderList[j];
    int k = Wide(E[i].name, lstrlenA(E[i].name), w);
    Got[i] = (unsigned char)ListFolder(Found, w, FolderLen(w, k), Listing[lane]);
    return 0;
}

void Survey(Facts *facts, int lanes) {
    Found = facts;
    Got = (unsigned char *)Take((size_t)N + 16);
    if (!Got) return;
    RunLanes(lanes, FolderN, ListJob);
    for (int i = 0; i < N; i++)
        if (facts[i].state == FactsUnknown && FolderOf[i] >= 0 && Got[FolderOf[i]]) facts[i].state = FactsGone;
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
