// The updater's three hot paths, timed inside the process; net_bench.py sets
// them side by side with md5sum and curl on the same files and server.
//   net_bench md5 FILE               FileMd5 of FILE
//   net_bench download URL OUT       the update run's download path, URL to OUT
//   net_bench compare DIR SITE [first]  an update run over DIR against SITE
//                                    whose manifest lists DIR's files as they
//                                    are; "first": without DIR's record of
//                                    verified files, as at a first start
//   net_bench update DIR SITE [noflush]  the same run, whatever the manifest
//                                    lists; "noflush": downloads and the record
//                                    are not flushed to the disk (Durable 0)
//   ... lanes=N                      compare and update: N files at once (the
//                                    INI's Downloads; 4 by default)
//   ... keys=FILE                    compare and update: as a launcher built
//                                    with the key lines of FILE (VELMORA_KEYS)
//   net_bench forget DIR             deletes DIR's record of verified files
// Prints "seconds=S" and what was done (digest, bytes, final status, files
// hashed, the process's peak working set in bytes) on stdout.
#include <windows.h>

#include <psapi.h>
#include <shellapi.h>
#include <stdio.h>

#include <thread>

#include "app/state.h"
#include "bench/benchutil.h"
#include "net/http.h"
#include "net/netthread.h"
#include "update/download.h"
#include "update/hashrec.h"
#include "update/md5.h"
#include "update/place.h"
#include "update/signature.h"
#include "update/update.h"



static volatile LONG Hashed;
static void Count(const wchar_t *) { InterlockedIncrement(&Hashed); }

// The key lines of a VELMORA_KEYS file ("velmora-key 1 ID XY") into Keys.
static int LoadKeys(const wchar_t *file) {
    char text[1024], id[17], xy[129];
    DWORD n = 0;
    HANDLE f = CreateFileW(file, GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0);
    int ok = f != INVALID_HANDLE_VALUE && ReadFile(f, text, sizeof text - 1, &n, 0);
    if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
    text[ok ? n : 0] = 0;
    KeyN = 0;
    for (char *line = text; ok && KeyN < KeyMax && sscanf(line, "velmora-key 1 %16s %128s", id, xy) == 2;) {
        for (int i = 0; i < KeyIdLen + KeyXyLen; i++) {
            const char *hex = i < KeyIdLen ? id + 2 * i : xy + 2 * (i - KeyIdLen);
            unsigned v;
            if (sscanf(hex, "%2x", &v) != 1) return 0;
            (i < KeyIdLen ? Keys[KeyN].id[i] : Keys[KeyN].xy[i - KeyIdLen]) = (unsigned char)v;
        }
        KeyN++;
        if (!(line = strchr(line, '\n'))) break;
        line++;
    }
    return KeyN > 0;
}

int main() {
    int argc = 0;
    wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 3) return 2;
    InitializeCriticalSection(&Lock);
    if (!lstrcmpW(argv[1], L"md5")) {
        char out[33];
        double t = Now();
        int ok = FileMd5(argv[2], out);
        t = Now() - t;
        if (!ok) return 1;
        printf("seconds=%.6f\nmd5=%s\n", t, out);
        return 0;
    }
    if (!lstrcmpW(argv[1], L"forget")) {
        wchar_t rec[PathLen];
        return RecordPath(argv[2], rec, PathLen) && DeleteFileW(rec) ? 0 : 1;
    }
    StartWindow();
    OpenNet();
    if (!lstrcmpW(argv[1], L"download") && argc > 3) {
        double t = Now();
        HttpReq r;
        if (!HttpOpen(argv[2], &r)) return 1;
        HANDLE f = CreateFileW(argv[3], GENERIC_WRITE, 0, 0, CREATE_ALWAYS, 0, 0);
        if (f == INVALID_HANDLE_VALUE) return 1;
        unsigned long long n = 0;
        int whole = SaveBody(0, &r, f, &n, ~0ull);
        CloseHandle(f);
        HttpClose(&r);
        t = Now() - t;
        printf("seconds=%.6f\nbytes=%llu\n", t, n);
        return whole == BodyWhole ? 0 : 1;
    }
    if ((!lstrcmpW(argv[1], L"compare") || !lstrcmpW(argv[1], L"update")) && argc > 3) {
        lstrcpynW(Dir, argv[2], PathLen);
        lstrcpynW(Site, argv[3], SiteLen);
        wsprintfW(SelfExe, L"%s\\VelmoraLauncher.exe", Dir);
        wchar_t rec[PathLen];
        for (int i = 4; i < argc; i++) {
            if (!lstrcmpW(argv[i], L"first") && RecordPath(Dir, rec, PathLen)) DeleteFileW(rec);
            if (!lstrcmpW(argv[i], L"noflush")) Durable = 0;
            if (!wcsncmp(argv[i], L"lanes=", 6)) Lanes = _wtoi(argv[i] + 6);
            if (!wcsncmp(argv[i], L"keys=", 5) && !LoadKeys(argv[i] + 5)) return 2;
        }
        Md5Hook = Count;
        double t = Now();
        UpdateFiles();
        t = Now() - t;
        char status[StatusLen * 3];
        WideCharToMultiByte(CP_UTF8, 0, Status, -1, status, sizeof status, 0, 0);
        PROCESS_MEMORY_COUNTERS m = {};
        GetProcessMemoryInfo(GetCurrentProcess(), &m, sizeof m);
        printf("seconds=%.6f\nstatus=%s\nhashed=%ld\npeak=%llu\n", t, status, Hashed,
               (unsigned long long)m.PeakWorkingSetSize);
        return 0;
    }
    return 2;
}
