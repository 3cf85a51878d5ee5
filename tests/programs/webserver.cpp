// The tests' web server as a program, for the tests, the demo and the
// benchmarks that drive Windows programs from outside:
//   webserver ROOT [--port-file FILE] [--log FILE] [--seconds N]
//             [--rule PATH=HOW]... [--header PATH=LINE]...
// serves ROOT on 127.0.0.1 at a free port (written to FILE once it listens),
// appends every request's whole head to the log, and ends after N seconds
// (default 3600) or when killed. HOW is a form of ParseRule; LINE a header
// line the answers for PATH carry. Exit code 0; 2 for bad arguments, 1 when
// no port can be had.
#include <windows.h>

#include <stdio.h>

#include "support/webserver.h"

static std::string Narrow(const wchar_t *w) {
    char s[4096];
    return WideCharToMultiByte(CP_UTF8, 0, w, -1, s, sizeof s, 0, 0) ? s : "";
}

int wmain(int argc, wchar_t **argv) {
    if (argc < 2) return 2;
    std::wstring portFile, log;
    int seconds = 3600;
    std::map<std::string, Rule> rules;
    if (argc % 2) return 2;  // an option without its value
    for (int i = 2; i + 1 < argc; i += 2) {
        std::wstring a = argv[i];
        std::string v = Narrow(argv[i + 1]), path = v.substr(0, v.find('='));
        std::string how = v.find('=') == std::string::npos ? "" : v.substr(v.find('=') + 1);
        if (a == L"--port-file") portFile = argv[i + 1];
        else if (a == L"--log") log = argv[i + 1];
        else if (a == L"--seconds") seconds = _wtoi(argv[i + 1]);
        else if (a == L"--header" && !how.empty()) rules[path].Header(how);
        else if (a != L"--rule") return 2;
        else {
            std::string headers = rules[path].headers;
            if (!ParseRule(how, rules[path])) return 2;
            rules[path].headers = headers;
        }
    }
    WebServer server;
    for (auto &r : rules) server.On(r.first, r.second);
    if (!server.Start(argv[1])) return 1;
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
        Sleep(50);
        std::vector<std::string> heads = server.Heads();
        FILE *f = log.empty() || heads.size() == logged ? 0 : _wfopen(log.c_str(), L"ab");
        for (; f && logged < heads.size(); logged++) fputs(heads[logged].c_str(), f);
        if (f) fclose(f);
    }
    return 0;
}
