// What the signature check costs an update run, inside one process:
//   sign_bench SITE GAME KEYS
// SITE is a signed site (lista --sign) of GAME's files, KEYS its public key
// line. Serves SITE on loopback and times, best of Rounds each: the manifest's
// fetch, the check of its signature alone (and the very first check, which
// opens CNG's providers), the whole check as a run makes it (signature fetch,
// check, serial), and whole update runs over GAME, all files current, with and
// without the key built in, taken alternately. Prints name=value lines.
#include <windows.h>

#include <shellapi.h>
#include <stdio.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "app/state.h"
#include "bench/benchutil.h"
#include "net/http.h"
#include "support/webserver.h"
#include "update/signature.h"
#include "update/update.h"


enum { Rounds = 20 };

static char List[65536];

int main() {
    int argc = 0;
    wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc != 4) return 2;
    InitializeCriticalSection(&Lock);
    StartWindow();

    std::ifstream keys{std::filesystem::path(argv[3])};
    std::string word, version, id, xy;
    if (!(keys >> word >> version >> id >> xy) || id.size() != 16 || xy.size() != 128) return 2;
    PublicKey key;
    for (int i = 0; i < KeyIdLen; i++) key.id[i] = (unsigned char)std::stoul(id.substr(2 * i, 2), 0, 16);
    for (int i = 0; i < KeyXyLen; i++) key.xy[i] = (unsigned char)std::stoul(xy.substr(2 * i, 2), 0, 16);

    WebServer server;
    if (!server.Start(argv[1])) return 1;
    OpenNet();
    lstrcpynW(Site, server.Base().c_str(), SiteLen);
    lstrcpynW(Dir, argv[2], PathLen);
    wsprintfW(SelfExe, L"%s\\VelmoraLauncher.exe", Dir);
    wchar_t listUrl[SiteLen + 32];
    wsprintfW(listUrl, L"%s/update/lista.txt", Site);
    std::ifstream sigFile(std::filesystem::path(std::wstring(argv[1]) + L"\\update\\lista.txt.sig"), std::ios::binary);
    std::stringstream sigText;
    sigText << sigFile.rdbuf();
    std::string sig = sigText.str();

    int n = HttpGet(listUrl, List, sizeof List);
    Keys[0] = key;
    KeyN = 1;
    unsigned long long serial = 0;
    double t = Now();
    int ok = VerifySignature(List, n, sig.data(), (int)sig.size(), &serial);
    double first = Now() - t;
    if (n < 0 || !ok) return 1;

    double fetch = 1e9, check = 1e9, whole = 1e9, runPlain = 1e9, runSigned = 1e9;
    for (int r = 0; r < Rounds; r++) {
        t = Now();
        HttpGet(listUrl, List, sizeof List);
        fetch = std::min(fetch, Now() - t);
        t = Now();
        VerifySignature(List, n, sig.data(), (int)sig.size(), &serial);
        check = std::min(check, Now() - t);
        t = Now();
        if (!SignatureAccepted(List, n)) return 1;
        whole = std::min(whole, Now() - t);
        for (int keyed = 0; keyed < 2; keyed++) {
            KeyN = keyed;
            t = Now();
            UpdateFiles();
            double took = Now() - t;
            if (keyed) runSigned = std::min(runSigned, took);
            else runPlain = std::min(runPlain, took);
        }
    }
    char status[StatusLen * 3];
    WideCharToMultiByte(CP_UTF8, 0, Status, -1, status, sizeof status, 0, 0);
    printf("manifest_bytes=%d\nfetch=%.6f\nfirst_check=%.6f\ncheck=%.6f\nwhole_check=%.6f\n"
           "run_plain=%.6f\nrun_signed=%.6f\nstatus=%s\n",
           n, fetch, first, check, whole, runPlain, runSigned, status);
    server.Stop();
    return 0;
}
