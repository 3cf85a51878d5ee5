#include "update/hashrec.h"

#include <shlobj.h>
#include <stddef.h>
#include <string.h>

#include "app/state.h"
#include "net/utf8.h"
#include "update/manifest.h"
#include "update/md5.h"
#include "update/names.h"
#include "update/partial.h"
#include "update/place.h"

unsigned long long (*RecordClock)();

// FILETIME counts 100 ns.
static const unsigned long long Second = 10000000ull;
// A file written this close before its MD5 was worked out may have been
// written again within the same tick of its last-write time (2 s on FAT, 10 ms
// on exFAT), unseen: it is hashed again.
static const unsigned long long Settle = 5 * Second;
static const unsigned long long Week = 7 * 24 * 3600 * Second;

enum { Version = 2, SumLen = 32 };
static const char Magic[] = "VLMREC\r\n";

// What a remembered file's flags say. An entry with Pending alone has no MD5
// and nothing of the file: only its name is remembered.
enum {
    Placed = 1,   // the launcher downloaded, verified and moved in these bytes itself
    Pending = 2,  // still to fetch: a partial download of it may lie in the game folder
};

// One remembered file. The layout is the file's: no implicit padding, the
// same in the x86 and x64 builds.
struct Known {
    char name[EntryNameLen];  // the manifest name, in local form
    char md5[Md5Len];           // "" with Pending alone
    char pad[3];
    unsigned flags;
    unsigned long long size;
    unsigned long long time;    // last write, FILETIME
    unsigned long long hashed;  // when md5 was worked out, by the record's clock
    unsigned long long index;   // file index on its volume
    unsigned volume;            // volume serial
    unsigned pad2;
};

struct Head {
    char magic[8];
    unsigned version;
    unsigned count;
    unsigned long long full;   // when every listed file was last hashed
    unsigned long long saved;  // when this record was written
    wchar_t dir[PathLen];      // the game folder it describes
};

static_assert(sizeof(Known) == 280 && sizeof(Head) == 552, "the record's layout is fixed");

// The record as read, and the one this run writes: the header, count entries,
// then the MD5 of both as text. In has room for one byte more than the
// largest record, so a longer file shows.
static struct {
    Head h;
    Known e[EntryMax];
    char sum[SumLen + 1];
} In;
static struct {
    Head h;
    Known e[EntryMax];
} Out;
static unsigned InN, Cursor;
static unsigned Noted;         // entries of In whose Pending flags count: all of a usable record
static int Full;               // this run hashes every file
static int Placing;            // this run placed a file: its record goes to the disk
static wchar_t Path[PathLen];  // this run's record; empty: none

// ---- What a file is now -------------------------------------------------------
// A handle tells a file's identity, but Wine answers the volume serial behind
// it through another process, a third of a millisecond a file. A listing of
// the file's folder gives every file's index in one go, and the folder's
// volume serial once; files it does not name plainly ask their handle.

static unsigned long long Listing[16384];  // FILE_ID_BOTH_DIR_INFO chains, 128 KiB
static DWORD ListingLen;
static wchar_t ListedDir[PathLen];  // the folder listed; empty: none yet this run
static unsigned ListedVolume;
static int ListedWhole;  // Listing holds every name of the folder

// The record at byte at of Listing, and where the next one starts: the
// chains of successive calls follow each other 8-byte aligned.
static FILE_ID_BOTH_DIR_INFO *Entry(DWORD at) { return (FILE_ID_BOTH_DIR_INFO *)((BYTE *)Listing + at); }
static DWORD Next(DWORD at) {
    FILE_ID_BOTH_DIR_INFO *e = Entry(at);
    if (e->NextEntryOffset) return at + e->NextEntryOffset;
    return at + ((offsetof(FILE_ID_BOTH_DIR_INFO, FileName) + e->FileNameLength + 7) & ~7u);
}

// Lists the folder of n units at dir.
static void ListFolder(const wchar_t *dir, int n) {
    lstrcpynW(ListedDir, dir, n + 1);
    ListingLen = 0;
    ListedWhole = 0;
    HANDLE d = CreateFileW(ListedDir, FILE_LIST_DIRECTORY,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, 0);
    if (d == INVALID_HANDLE_VALUE) return;
    DWORD serial;
    FILE_INFO_BY_HANDLE_CLASS c = FileIdBothDirectoryRestartInfo;
    int ok = GetVolumeInformationByHandleW(d, 0, 0, &serial, 0, 0, 0, 0);
    ListedVolume = serial;
    // Each call needs room for at least one record with the longest name.
    while (ok && ListingLen + 1024 <= sizeof Listing) {
        if (!GetFileInformationByHandleEx(d, c, (BYTE *)Listing + ListingLen, sizeof Listing - ListingLen)) {
            ListedWhole = GetLastError() == ERROR_NO_MORE_FILES;
            break;
        }
        c = FileIdBothDirectoryInfo;
        DWORD at = ListingLen;
        while (Entry(at)->NextEntryOffset && Next(at) < sizeof Listing) at = Next(at);
        ListingLen = Next(at);
    }
    CloseHandle(d);
}

// The index of the one file the listing names name (n units, any case); 0
// when it names none or, on a case-sensitive disk, more than one.
static int ListedIndex(const wchar_t *name, int n, unsigned long long *index) {
    int found = 0;
    for (DWORD at = 0; at < ListingLen; at = Next(at)) {
        FILE_ID_BOTH_DIR_INFO *e = Entry(at);
        if (e->FileNameLength == n * sizeof(wchar_t) &&
            CompareStringOrdinal(e->FileName, n, name, n, TRUE) == CSTR_EQUAL) {
            *index = e->FileId.QuadPart;
            found++;
        }
    }
    return found == 1;
}

// The size, last-write time and identity of the file at path into *k (the
// rest zeroed); 0 when it is missing or no file. Asks the file's handle, not
// a listing, when listed is 0.
static int Stat(const wchar_t *path, Known *k, int listed) {
    memset(k, 0, sizeof *k);
    WIN32_FILE_ATTRIBUTE_DATA a;
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &a) || (a.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return 0;
    k->size = (unsigned long long)a.nFileSizeHigh << 32 | a.nFileSizeLow;
    k->time = (unsigned long long)a.ftLastWriteTime.dwHighDateTime << 32 | a.ftLastWriteTime.dwLowDateTime;
    const wchar_t *name = wcsrchr(path, L'\\') + 1;  // a local path is Dir, "\" and a name
    int n = (int)(name - 1 - path);
    if (listed && (n != lstrlenW(ListedDir) || CompareStringOrdinal(path, n, ListedDir, n, TRUE) != CSTR_EQUAL))
        ListFolder(path, n);
    if (listed && ListedWhole && ListedIndex(name, lstrlenW(name), &k->index)) {
        k->volume = ListedVolume;
        return 1;
    }
    HANDLE f = CreateFileW(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           0, OPEN_EXISTING, 0, 0);
    if (f == INVALID_HANDLE_VALUE) return 0;
    BY_HANDLE_FILE_INFORMATION i;
    int ok = GetFileInformationByHandle(f, &i);
    CloseHandle(f);
    if (!ok) return 0;
    k->index = (unsigned long long)i.nFileIndexHigh << 32 | i.nFileIndexLow;
    k->volume = i.dwVolumeSerialNumber;
    return 1;
}

// ---- The run's record ----------------------------------------------------------

static unsigned long long Now() {
    if (RecordClock) return RecordClock();
    FILETIME t;
    GetSystemTimeAsFileTime(&t);
    return (unsigned long long)t.dwHighDateTime << 32 | t.dwLowDateTime;
}

int RecordPath(const wchar_t *dir, wchar_t *out, int cap) {
    wchar_t base[MAX_PATH], up[PathLen];
    char name[SumLen + 1];
    int n = lstrlenW(dir);
    if (cap > 0) out[0] = 0;
    // Paths differing only in letter case name one folder.
    if (n >= PathLen || SHGetFolderPathW(0, CSIDL_LOCAL_APPDATA, 0, SHGFP_TYPE_CURRENT, base) != S_OK)
        return 0;
    lstrcpyW(up, dir);
    CharUpperBuffW(up, n);
    if (!DataMd5(up, n * sizeof(wchar_t), name)) return 0;
    // Two backslashes, the digits, ".rec", and the temporary name's ".new".
    if (lstrlenW(base) + lstrlenW(APP_TITLE) + 2 + SumLen + 8 >= cap) return 0;
    return wsprintfW(out, L"%s\\%s\\%S.rec", base, APP_TITLE, name);
}

static int Ended(const char *s, int cap) { return memchr(s, 0, cap) != 0; }

// 1 when the n bytes read into In are a whole record of this folder.
static int Valid(DWORD n) {
    if (n < sizeof(Head) || memcmp(In.h.magic, Magic, sizeof In.h.magic) || In.h.version != Version ||
        In.h.count > EntryMax)
        return 0;
    DWORD body = sizeof(Head) + In.h.count * sizeof(Known);
    char sum[SumLen + 1];
    if (n != body + SumLen || !DataMd5(&In, body, sum) || memcmp(sum, (char *)&In + body, SumLen))
        return 0;
    if (In.h.dir[PathLen - 1] || lstrcmpiW(In.h.dir, Dir)) return 0;
    // Names are a manifest's, that may be joined to the game folder.
    for (unsigned i = 0; i < In.h.count; i++) {
        const Known *k = &In.e[i];
        if (!Ended(k->name, EntryNameLen) || NameFaultOf(k->name) || !Ended(k->md5, Md5Len) ||
            (k->flags & ~(Placed | Pending)))
            return 0;
        size_t m = strlen(k->md5);
        if (m != Md5Len - 1 && !(m == 0 && k->flags == Pending)) return 0;
    }
    return 1;
}

void LoadRecord() {
    InN = Cursor = Noted = Out.h.count = 0;
    Full = 1;
    Placing = 0;
    ListedDir[0] = 0;
    if (!RecordPath(Dir, Path, PathLen)) return;
    HANDLE f = CreateFileW(Path, GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0);
    if (f == INVALID_HANDLE_VALUE) return;
    DWORD n = 0;
    BOOL read = ReadFile(f, &In, sizeof In, &n, 0);
    CloseHandle(f);
    if (!read || !Valid(n)) return;
    Noted = In.h.count;  // the names it notes stand, whatever its age
    // Last-write times are only comparable with the record's times on a clock
    // that has not gone back since: one that did counts as a week on.
    unsigned long long now = Now();
    Full = now < In.h.saved || now - In.h.full >= Week;
    if (!Full) InN = In.h.count;
}

// The record's entry for name, looked for from behind the last one found:
// a manifest usually lists its files in the record's order.
static const Known *Find(const char *name) {
    for (unsigned j = 0; j < InN; j++) {
        unsigned i = (Cursor + j) % InN;
        if (!strcmp(In.e[i].name, name)) {
            Cursor = i + 1;
            return &In.e[i];
        }
    }
    return 0;
}

// The entry for name in the record being built, added empty when there is
// none; 0 when it is full.
static Known *Slot(const char *name) {
    for (unsigned i = 0; i < Out.h.count; i++)
        if (!strcmp(Out.e[i].name, name)) return &Out.e[i];
    if (Out.h.count == EntryMax) return 0;
    Known *k = &Out.e[Out.h.count++];
    memset(k, 0, sizeof *k);
    lstrcpynA(k->name, name, EntryNameLen);
    return k;
}

// Puts what a (from Stat) says of name, with md5, into the record being built.
// A file found current or just placed is no longer to fetch: one that differs
// is noted again (NotePending) after its check.
static void Keep(const char *name, const char *md5, const Known *a) {
    Known *k = Slot(name);
    if (!k) return;
    *k = *a;
    k->flags &= ~Pending;
    lstrcpynA(k->name, name, EntryNameLen);
    lstrcpynA(k->md5, md5, Md5Len);
}

int CheckFile(const char *name, const wchar_t *path, const char *md5) {
    Known now;
    // What cannot be looked at is hashed as ever, and not remembered.
    if (!Stat(path, &now, 1)) return Md5Matches(path, md5);
    const Known *k = Find(name);
    char got[Md5Len];
    if (k && k->md5[0] && k->size == now.size && k->time == now.time && k->index == now.index &&
        k->volume == now.volume && ((k->flags & Placed) || now.time + Settle < k->hashed)) {
        lstrcpyA(got, k->md5);
        now.flags = k->flags & Placed;
        now.hashed = k->hashed;
    } else {
        // Taken before the first byte is read: a write while the file is
        // read comes after it.
        now.hashed = Now();
        if (!FileMd5(path, got)) return 0;
    }
    Keep(name, got, &now);
    return lstrcmpiA(got, md5) == 0;
}

void Remember(const char *name, const wchar_t *path, const char *md5) {
    Known now;
    // Placed just now: the folder's listing predates it.
    if (!Stat(path, &now, 0)) return;
    // Its last write was the launcher's own, through a handle it shared with
    // nobody, and its MD5 was read back right after: no other write can hide
    // in that tick, so it is trusted as of its verification, without waiting
    // out the few seconds a file found in the folder must be older than its MD5.
    now.flags = Placed;
    now.hashed = Now();
    Keep(name, md5, &now);
    Placing = 1;
}

void NotePending(const char *name) {
    if (Known *k = Slot(name)) k->flags |= Pending;
}

// ---- Partials of files no longer listed ---------------------------------------

// name as UTF-16 into out (EntryNameLen units), "/" turned into "\"; 0 when
// it does not convert.
static int Wide(const char *name, wchar_t *out) {
    if (!Utf8To16(name, out, EntryNameLen)) return 0;
    for (wchar_t *c = out; *c; c++)
        if (*c == L'/') *c = L'\\';
    return 1;
}

// 1 when one of the n entries of e names the file name names: Windows takes
// a name in any letter case for the same file. A name that does not convert
// counts as listed (it is left alone).
static int Listed(const char *name, const ManifestEntry *e, int n) {
    wchar_t a[EntryNameLen], b[EntryNameLen];
    if (!Wide(name, a)) return 1;
    for (int i = 0; i < n; i++)
        if (Wide(e[i].name, b) && CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL) return 1;
    return 0;
}

void DropStrayPartials(const ManifestEntry *e, int n) {
    for (unsigned i = 0; i < Noted; i++) {
        Known *k = &In.e[i];
        wchar_t path[PathLen], temp[PathLen];
        if (!(k->flags & Pending) || Listed(k->name, e, n)) continue;
        if (!LocalPath(Dir, k->name, path, PathLen) || !Join(temp, PathLen, path, L".novo")) continue;
        // What cannot be deleted now is looked at again by the next run.
        if (!DropStray(temp)) NotePending(k->name);
    }
}

void SaveRecord() {
    wchar_t temp[PathLen], folder[PathLen];
    if (!Path[0]) return;
    wsprintfW(temp, L"%s.new", Path);
    lstrcpyW(folder, Path);
    *wcsrchr(folder, L'\\') = 0;
    CreateDirectoryW(folder, 0);

    unsigned long long now = Now();
    memcpy(Out.h.magic, Magic, sizeof Out.h.magic);
    Out.h.version = Version;
    Out.h.full = Full ? now : In.h.full;
    Out.h.saved = now;
    memset(Out.h.dir, 0, sizeof Out.h.dir);
    lstrcpynW(Out.h.dir, Dir, PathLen);
    DWORD body = sizeof(Head) + Out.h.count * sizeof(Known), w = 0, ws = 0;
    char sum[SumLen + 1];
    if (!DataMd5(&Out, body, sum)) return;
    HANDLE f = CreateFileW(temp, GENERIC_WRITE, 0, 0, CREATE_ALWAYS, 0, 0);
    if (f == INVALID_HANDLE_VALUE) return;
    int ok = WriteFile(f, &Out, body, &w, 0) && w == body && WriteFile(f, sum, SumLen, &ws, 0) &&
             ws == SumLen;
    // A record that trusts files placed in this run goes to the disk before
    // it replaces the one before; one of files only checked need not: lost,
    // it costs one start that hashes every file.
    if (ok && Placing && Durable) FlushFileBuffers(f);
    CloseHandle(f);
    if (!ok || !MoveFileExW(temp, Path, MOVEFILE_REPLACE_EXISTING)) DeleteFileW(temp);
}
