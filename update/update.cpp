#include "update/update.h"

#include <limits.h>

#include "app/state.h"
#include "net/netthread.h"
#include "update/download.h"
#include "update/hashrec.h"
#include "update/manifest.h"
#include "update/md5.h"
#include "update/partial.h"
#include "update/place.h"
#include "update/selfswap.h"
#include "update/signature.h"

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
    ListCap = 65536,  // the manifest is read up to 65535 bytes
    // Site, "/update/files/" and a name of 199 bytes each of which may become
    // "%XX": always fits, still checked.
    UrlLen = 1024,
};

static char List[ListCap];
static ManifestEntry E[EntryMax];
static int Need, Index;
// In 64 bits: 256 sizes of up to 4 GiB each must neither wrap nor overflow
// the per mille arithmetic.
static unsigned long long Total, Done;

// Per mille of the bytes to download. No file is written past its manifest
// size, so it ends at 1000; it saturates all the same rather than overflow.
static int Permille(unsigned long long done) {
    if (!Total) return 0;
    unsigned long long p = done / Total * 1000 + done % Total * 1000 / Total;
    return p > INT_MAX ? INT_MAX : (int)p;
}

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
// quietly. GotNoRights or GotNoRoom when the disk refuses one for that
// reason, GotFile otherwise (what stands in the way shows at the download).
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

void ShowFetch(const wchar_t *text, unsigned long long have) { Publish(text, Permille(Done + have)); }

// Downloads, verifies and places one entry; returns the failure text or 0.
static const wchar_t *Fetch(ManifestEntry *e) {
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
    if (got == GotFile) got = Download(e, url, temp, name, ++Index, Need, &size);
    if (got != GotFile) return FailureText(got);
    Done += size;
    // On the disk before it counts (place.h). One that cannot be flushed goes
    // in all the same, but the record does not take it as verified: the next
    // start hashes it.
    int durable = Flush(temp);
    int self = lstrcmpiW(path, SelfExe) == 0, held = 0;
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
    if (!placed) return TXT_IN_USE;
    if (durable) Remember(e->name, path, e->md5);
    return 0;
}

void UpdateFiles() {
    Need = Index = 0;
    Total = Done = 0;
    Publish(TXT_CHECKING, -1);
    wchar_t url[UrlLen];
    int len = -1;
    if (!Join(url, UrlLen, Site, L"/update/lista.txt") || (len = HttpGet(url, List, ListCap)) < 0) {
        Publish(TXT_NO_LIST, 1000);
        return;
    }
    // With the operator's keys built in, nothing is compared, fetched or
    // touched for a manifest that the operator did not sign.
    if (!SignatureAccepted(List, len)) {
        Publish(TXT_REFUSED, 1000);
        return;
    }
    int n = ParseManifest(List, E, EntryMax);
    // A manifest that lists nothing checked nothing (an empty upload, a
    // portal's or a catch-all host's page): that is no news that the game is
    // current.
    if (!n) {
        Publish(TXT_NO_LIST, 1000);
        return;
    }
    LoadRecord();
    // A release that removed or renamed a file leaves its partial download
    // to nothing that would ever resume it.
    DropStrayPartials(E, n);

    // Comparison pass, silent: the window keeps its busy band.
    for (int i = 0; i < n; i++) {
        wchar_t path[PathLen], temp[PathLen];
        int at = LocalPath(Dir, E[i].name, path, PathLen);
        int temped = at && Join(temp, PathLen, path, L".novo");
        if (at && CheckFile(E[i].name, path, E[i].md5)) {
            E[i].name[0] = 0;  // current
        } else {
            Need++;
            Total += E[i].size;
            NotePending(E[i].name);
        }
        // A partial download stays only for a file still to fetch, with a
        // record of this very entry; any other goes now, also when this run
        // stops before reaching its file.
        if (temped) KeepPartial(temp, E[i].name[0] ? E[i].md5 : 0, E[i].size);
    }
    // The names of the files to fetch are on disk before their first byte:
    // a run ended by a close or a kill leaves its partials noted too.
    if (Need) SaveRecord();

    // The run stops at the first failure: files already placed stay, the
    // failing one's temporary file stays only as a partial the next run can
    // resume, later ones are not attempted.
    const wchar_t *fail = 0;
    for (int i = 0; i < n && !fail; i++)
        if (E[i].name[0]) fail = Fetch(&E[i]);
    SaveRecord();
    Publish(fail ? fail : Restart ? TXT_RESTART : Need ? TXT_UPDATED : TXT_CURRENT, 1000);
}
