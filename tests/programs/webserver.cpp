// The tests' web server as a program of its own, for tests and benchmarks that
// drive Windows programs from outside:
//   webserver ROOT [--port N] [--port-file FILE] [--log FILE] [--seconds N]
//             [--answer PATH=HOW]...
// serves the folder ROOT on 127.0.0.1 (port 0, the default, picks a free one,
// written to FILE when it listens), appends every request path to the log, and
// ends after N seconds (default 3600) or when killed. HOW is one of
// status:CODE, empty, body:TEXT, cut:N, reset:N, stall:N, trickle:CHUNK:MS,
// redirect:URL, silent. Exit code 0, or 2 for bad arguments, 1 when the port
// cannot be had.
#include <windows.h>

#include <stdio.h>

#include <string>

#include "support/webserver.h"

static std::string Narrow(const wchar_t *w) {
    int n = WideCharToMultiByte(CP_UTF8, 0, w, -1, 0, 0, 0, 0);
    std::string s(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, w, -1, &s[0], n, 0, 0);
    return s;
}

int wmain(int argc, wchar_t **argv) {
    if (argc < 2) return 2;
    std::wstring root = argv[1], portFile, log;
    int port = 0, seconds = 3600;
    WebServer server;
    for (int i = 2; i < argc; i++) {
        std::wstring a = argv[i];
        if (i + 1 >= argc) return 2;
        const wchar_t *v = argv[++i];
        if (a == L"--port") port = _wtoi(v);
        else if (a == L"--port-file") portFile = v;
        else if (a == L"--log") log = v;
        else if (a == L"--seconds") seconds = _wtoi(v);
        else if (a == L"--answer") {
            std::string rule = Narrow(v);
            size_t eq = rule.find('=');
            Answer ans;
            if (eq == std::string::npos || !ParseAnswer(rule.substr(eq + 1), ans)) return 2;
            server.On(rule.substr(0, eq), ans);
        } else {
            return 2;
        }
    }
    if (!server.Start(root, port)) return 1;
    if (!portFile.empty()) {
        // Written whole under another name first, so a reader never sees half.
        std::wstring tmp = portFile + L".tmp";
        FILE *f = _wfopen(tmp.c_str(), L"w");
        if (!f) return 2;
        fprintf(f, "%d\n", server.Port());
        fclose(f);
        MoveFileExW(tmp.c_str(), portFile.c_str(), MOVEFILE_REPLACE_EXISTING);
    }
    size_t logged = 0;
    for (DWORD start = GetTickCount(); GetTickCount() - start < (DWORD)seconds * 1000;) {
        Sleep(100);
        if (log.empty()) continue;
        std::vector<std::string> paths = server.Paths();
        if (paths.size() == logged) continue;
        FILE *f = _wfopen(log.c_str(), L"ab");
        if (!f) continue;
        for (; logged < paths.size(); logged++) fprintf(f, "%s\n", paths[logged].c_str());
        fclose(f);
    }
    server.Stop();
    return 0;
}
