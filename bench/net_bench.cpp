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
//   net_bench forget DIR             deletes DIR's record of verified files
// Prints "seconds=S" and what was done (digest, bytes, final status, files
// hashed) on stdout.
#include <windows.h>

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
#include "update/update.h"



static int Hashed;
static void Count(const wchar_t *) { Hashed++; }

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
        if (argc > 4 && !lstrcmpW(argv[4], L"first") && RecordPath(Dir, rec, PathLen)) DeleteFileW(rec);
        if (argc > 4 && !lstrcmpW(argv[4], L"noflush")) Durable = 0;
        Md5Hook = Count;
        double t = Now();
        UpdateFiles();
        t = Now() - t;
        char status[StatusLen * 3];
        WideCharToMultiByte(CP_UTF8, 0, Status, -1, status, sizeof status, 0, 0);
        printf("seconds=%.6f\nstatus=%s\nhashed=%d\n", t, status, Hashed);
        return 0;
    }
    return 2;
}
