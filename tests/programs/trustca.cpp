// Makes a test certificate authority trusted in this Wine prefix, as an
// operator's real authority is on players' machines:
//   trustca FILE        adds the DER certificate in FILE to the current user's
//                       root store (what WinINet's certificate checks consult)
// Exit code 0 once it is there, 1 when it cannot be read or added, 2 for bad
// arguments. Run it only in a prefix of the tests' own.
#include <windows.h>

#include <wincrypt.h>

int wmain(int argc, wchar_t **argv) {
    if (argc != 2) return 2;
    HANDLE f = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, 0, OPEN_EXISTING, 0, 0);
    if (f == INVALID_HANDLE_VALUE) return 1;
    static BYTE der[65536];
    DWORD n = 0;
    BOOL read = ReadFile(f, der, sizeof der, &n, 0);
    CloseHandle(f);
    if (!read || !n || n == sizeof der) return 1;
    return CertAddEncodedCertificateToSystemStoreW(L"ROOT", der, n) ? 0 : 1;
}
