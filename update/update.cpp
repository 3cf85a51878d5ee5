#include "update/update.h"

#include "app/state.h"
#include "net/netthread.h"
#include "update/ahead.h"
#include "update/delta.h"
#include "update/download.h"
#include "update/hashrec.h"
#include "update/kept.h"
#include "update/lanes.h"
#include "update/manifest.h"
#include "update/partial.h"
#include "update/place.h"
#include "update/selfswap.h"
#include "update/signature.h"
#include "update/tables.h"

// The run's texts, in the order a run can show them.
#define TXT_CHECKING L"Verificando atualiza\u00e7\u00f5es..."
#define TXT_NO_LIST L"N\u00e3o foi poss\u00edvel verificar atualiza\u00e7\u00f5es. Voc\u00ea pode jogar mesmo assim."
#define TXT_NO_FILE L"Falha ao baixar atualiza\u00e7\u00e3o. Tente de novo mais tarde."
#define TXT_CORRUPT L"Arquivo de atualiza\u00e7\u00e3o corrompido. Tente de novo."
#define TXT_IN_USE L"Feche o jogo antes de atualizar e abra o launcher de novo."
#define TXT_NO_ROOM L"Espa\u00e7o em disco insuficiente para atualizar o jogo."
#define TXT_NO_RIGHTS L"Sem permiss\u00e3o para atualizar a pasta do jogo."
#define TXT_RESTART L"Launcher atualizado. Reiniciando..."
#define TXT_UPDATED L"Jogo atualizado! Pronto para jogar."
#define TXT_CURRENT L"Seu jogo est\u00e1 atualizado. Pronto para jogar."
#define TXT_REFUSED L"Atualiza\u00e7\u00e3o recusada: assinatura inv\u00e1lida. Voc\u00ea pode jogar mesmo assim."

enum {
    // The manifest's buffer holds one byte more than the largest manifest,
    // so that a longer one shows, and a NUL.
    ListCap = ListMax + 2,
    // Site, "/update/files/" and a name of 199 bytes each of which may become
    // "%XX": always fits, still checked.
    UrlLen = 1024,
};

// The run's tables (update/tables.h): the manifest's text and its entries.
static char *List;
static ManifestEntry *E;
static int N, Need;

// The file's address, built from the UTF-8 name: folders joined by "/",
// spaces as "%20", as the site stores its files. Bytes that would reach the
// server in the platform's code page (anything outside ASCII), or change the
// URL's meaning ("%", "#", "?", control bytes), go as %XX of their UTF-8, the
// form every web server decodes back to the stored name; the rest is copied.
static int FileUrl(wchar_t *url, const char *name) {
    if (!Join(url, UrlLen, Site, L"/update/files/")) return 0;
    int n = lstrlenW(url);
    for (const unsigned char *b = (const unsigned char *)name; *b; b++) {
        int escape = *b == ' ' || *b >= 0x7F || *b < 0x20 || *b == '%' || *b == '#' || *b == '?';
        if (n + (escape ? 3 : 1) >= UrlLen) return 0;
        if (escape) {
            url[n++] = L'%';
            url[n++] = L"0123456789ABCDEF"[*b >> 4];
            url[n++] = L"0123456789ABCDEF"[*b & 15];
        } else {
            url[n++] = *b == '\\' ? L'/' : (wchar_t)*b;
        }
    }
    url[n] = 0;
    return 1;
}

// Creates the folders of path below Dir, outermost first; existing ones fail
// quietly (also when another lane has just made them). GotNoRights or
// GotNoRoom when the disk refuses one for that reason, GotFile otherwise
// (what stands in the way shows at the download).
static int MakeFolders(const wchar_t *path) {
    wchar_t p[PathLen];
    lstrcpynW(p, path, PathLen);
    for (int i = lstrlenW(Dir) + 1; p[i]; i++) {
        if (p[i] != L'\\') continue;
        p[i] = 0;
        int why = CreateDirectoryW(p, 0) ? GotFile : Refusal(GetLastError());
        p[i] = L'\\';
        if (why == GotNoRights || why == GotNoRoom) return why;
    }
    return GotFile;
}

// What the player reads when a file could not be brought into place.
static const wchar_t *FailureText(int got) {
    switch (got) {
    case GotNoFile: return TXT_NO_FILE;
    case GotBad: return TXT_CORRUPT;  // only bytes that are not the file are corruption
    case GotNoRights: return TXT_NO_RIGHTS;
    case GotNoRoom: return TXT_NO_ROOM;
    default: return TXT_IN_USE;
    }
}

// ---- The manifest ------------------------------------------------------------------

// The manifest's SHA-256, when Digested: a launcher with keys works it out
// once, as the manifest arrives, and keeps it with the copy.
static unsigned char Digest[ManifestDigestLen];
static int Digested;

// Fetches the manifest into List, asking only whether it changed when a copy
// of it is kept; *fresh: 0 when the kept copy stands in for it. Its length,
// or -1 when there is none to be had or it is larger than a run takes.
static int FetchList(int ask, int *fresh) {
    wchar_t url[UrlLen];
    DocVersion v;
    if (!Join(url, UrlLen, Site, L"/update/lista.txt")) return -1;
    if (!ask || !KeptVersion(&v)) ZeroMemory(&v, sizeof v);
    // Room for a compressed manifest, given back as soon as it is unpacked.
    size_t mark = TakenMark();
    char *scratch = (char *)Take(ListCap);
    int len = scratch ? HttpGetDoc(url, List, ListCap, scratch, &v) : -1;
    GiveBack(mark);
    *fresh = len != HttpSame;
    Digested = 0;
    if (len == HttpSame && (len = KeptList(List, ListCap, !KeyN, Digest, &Digested)) < 0) {
        // The copy is gone or damaged since: the whole manifest, then.
        DropKept();
        return FetchList(0, fresh);
    }
    if (len > ListMax) return -1;
    if (len >= 0 && *fresh) {
        Digested = KeyN && ManifestDigest(List, len, Digest);
        KeepList(List, len, &v, Digested ? Digest : 0);
    }
    return len;
}

// ---- The comparison pass ------------------------------------------------------------

// Decides whether entry i is current, on any lane; a partial download stays
// only for a file still to fetch, with a record of this very entry. Any
// other goes now, also when this run stops before reaching its file.
static const wchar_t *Check(int, int i) {
    ManifestEntry *e = &E[i];
    if (e->flags & EntryAgain) return 0;
    wchar_t path[PathLen], temp[PathLen];
    int at = LocalPath(Dir, e->name, path, PathLen);
    int temped = at && Join(temp, PathLen, path, L".novo");
    if (!at || !CheckFile(i, path)) {
        e->flags |= EntryFetch;
        if (at && lstrcmpiW(path, SelfExe) == 0) e->flags |= EntrySelf;
        NotePending(i);
    }
    if (temped && PartialBeside(i)) KeepPartial(temp, e->flags & EntryFetch ? e->md5 : 0, e->size);
    return 0;
}

// The entries the record does not vouch for.
static int *Rest, RestN;

static const wchar_t *CheckRest(int lane, int j) { return Check(lane, Rest[j]); }

// Hashing is work for the processor and the disk: the comparison pass runs
// on a lane for each processor.
static int Hashers() {
    if (HashLanes) return HashLanes;
    SYSTEM_INFO s;
    GetSystemInfo(&s);
    return s.dwNumberOfProcessors < 1 ? 1 : s.dwNumberOfProcessors > LaneMax ? LaneMax : (int)s.dwNumberOfProcessors;
}

// ---- The download pass -----------------------------------------------------------------

// Downloads, verifies and places entry i on lane; returns the failure text or 0.
static const wchar_t *Fetch(int lane, int i) {
    ManifestEntry *e = &E[i];
    wchar_t path[PathLen], temp[PathLen], url[UrlLen];
    int at = LocalPath(Dir, e->name, path, PathLen);
    // A path too long for the platform's fields cannot be written safely:
    // the run stops rather than leave that file out unannounced.
    if (!at || !Join(temp, PathLen, path, L".novo") || !FileUrl(url, e->name)) return TXT_NO_FILE;
    const wchar_t *name = path + lstrlenW(Dir) + 1;
    int got = MakeFolders(path);
    unsigned long long size = 0;
    // The temporary file comes before any request: when it cannot be made (a
    // folder or a busy file under its name, a file where a folder must be, a
    // folder the player may not write), no download could ever be placed, and
    // retrying would not help the player.
    // A file the player has in another version is built from what it shares
    // with the new one, when the site has its chunk map.
    // Only a file of DeltaMin bytes or more may have had a delta leave a
    // partial behind.
    if (got == GotFile) got = Delta(lane, e, url, path, temp, name, &size);
    if (got == GotNoDelta) got = Download(lane, e, url, temp, name, PartialBeside(i) || e->size >= DeltaMin, &size);
    if (got != GotFile) {
        LaneDone(lane, 0);
        return FailureText(got);
    }
    // On the disk before it counts (place.h). One that cannot be flushed goes
    // in all the same, but the record does not take it as verified: the next
    // start hashes it.
    int durable = Flush(temp);
    int self = (e->flags & EntrySelf) != 0, held = 0;
    int placed = self ? ReplaceSelf(temp) : Place(temp, path);
    // The game holding its file (open without sharing, or running: access
    // denied) is what keeps a download out most often: the verified file then
    // waits with its record, and the next start places it without asking
    // again (or the comparison pass drops it, when the entry changes or the
    // file becomes current). Behind a folder it would wait for good, and
    // without a record nothing would ever clear it; the launcher's own file
    // keeps its rules.
    if (!placed && !self) {
        DWORD why = GetLastError(), attr = GetFileAttributesW(path);
        Partial p;
        held = (why == ERROR_SHARING_VIOLATION || why == ERROR_LOCK_VIOLATION || why == ERROR_ACCESS_DENIED) &&
               attr != INVALID_FILE_ATTRIBUTES && !(attr & FILE_ATTRIBUTE_DIRECTORY) && ReadPartial(temp, &p);
    }
    if (!held) DropPartial(temp);  // the record, and the download when it could not be placed
    LaneDone(lane, placed ? size : 0);
    if (!placed) return TXT_IN_USE;
    if (durable) Remember(i, path);
    return 0;
}

// The launcher's own executable waits for the end of the pass: its swap
// restarts the launcher, which must find every other file placed.
static const wchar_t *FetchOther(int lane, int i) {
    return (E[i].flags & (EntryFetch | EntrySelf)) == EntryFetch ? Fetch(lane, i) : 0;
}

// ---- The run -------------------------------------------------------------------------------

static const wchar_t *Run() {
    List = (char *)Take(ListCap);
    E = (ManifestEntry *)Take(EntryMax * sizeof(ManifestEntry));
    if (!List || !E) return TXT_NO_LIST;
    // The folders the last manifest named are listed while this one comes.
    AheadStart();
    int fresh, len = FetchList(1, &fresh);
    if (len < 0) return TXT_NO_LIST;
    // With the operator's keys built in, nothing is compared, fetched or
    // touched for a manifest that the operator did not sign. A kept copy is
    // checked against the signature the site serves now: one that no longer
    // verifies (changed on disk, or the site's release behind it changed
    // without a new version) is dropped, and the manifest fetched whole.
    if (!SignatureAccepted(List, len, Digested ? Digest : 0)) {
        CommitKept(0);
        if (fresh) return TXT_REFUSED;
        DropKept();
        if ((len = FetchList(0, &fresh)) < 0) return TXT_NO_LIST;
        if (!SignatureAccepted(List, len, Digested ? Digest : 0)) {
            CommitKept(0);
            return TXT_REFUSED;
        }
    }
    N = ParseManifest(List, E, EntryMax);
    // A manifest that lists nothing checked nothing (an empty upload, a
    // portal's or a catch-all host's page): that is no news that the game is
    // current. One beyond the limits is never applied in part.
    CommitKept(N > 0);
    if (N <= 0) return TXT_NO_LIST;

    LoadRecord(E, N, Hashers());
    // A release that removed or renamed a file leaves its partial download
    // to nothing that would ever resume it.
    DropStrayPartials();

    // Comparison pass, silent: the window keeps its busy band. The files the
    // record vouches for are current as they are; the rest are looked at, or
    // hashed, on the lanes.
    Rest = (int *)Take((size_t)N * sizeof(int));
    RestN = 0;
    for (int i = 0; i < N; i++)
        if (Rest && !Vouched(i)) Rest[RestN++] = i;
    if (!Rest) RunLanes(Hashers(), N, Check);
    else if (RestN) RunLanes(Hashers(), RestN, CheckRest);
    unsigned long long total = 0, largest = 0;  // of the files to fetch
    Need = 0;
    int self = -1;
    for (int i = 0; i < N; i++) {
        if (!(E[i].flags & EntryFetch)) continue;
        Need++;
        total += E[i].size;
        if (E[i].size > largest) largest = E[i].size;
        if (E[i].flags & EntrySelf) self = i;
    }
    // The names of the files to fetch are on disk before their first byte:
    // a run ended by a close or a kill leaves its partials noted too.
    if (Need) SaveRecord();

    // The run stops at the first failure: files already placed stay, those
    // under way finish, the failing one's temporary file stays only as a
    // partial the next run can resume, later ones are not attempted.
    // The tables of delta downloads, for the largest file that may need one;
    // without them every file is fetched whole.
    if (largest >= DeltaMin) DeltaReserve(largest);
    StartFetches(total, Need);
    const wchar_t *fail = Need ? RunLanes(Lanes, N, FetchOther) : 0;
    if (!fail && self >= 0) fail = Fetch(0, self);
    DeltaRelease();
    SaveRecord();
    return fail ? fail : Restart ? TXT_RESTART : Need ? TXT_UPDATED : TXT_CURRENT;
}

void UpdateFiles() {
    StartFetches(0, 0);
    Publish(TXT_CHECKING, -1);
    const wchar_t *end = Run();
    AheadStop();
    FreeTables();
    Publish(end, 1000);
}
