#include "update/place.h"

int Durable = 1;

// The attributes of a read-only file at path, INVALID_FILE_ATTRIBUTES for
// anything else.
static DWORD ReadOnly(const wchar_t *path) {
    DWORD a = GetFileAttributesW(path);
    if (a == INVALID_FILE_ATTRIBUTES || (a & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != FILE_ATTRIBUTE_READONLY)
        return INVALID_FILE_ATTRIBUTES;
    return a;
}

void Writable(const wchar_t *path) {
    DWORD a = ReadOnly(path);
    if (a != INVALID_FILE_ATTRIBUTES) SetFileAttributesW(path, a & ~FILE_ATTRIBUTE_READONLY);
}

int Erase(const wchar_t *path) {
    Writable(path);
    return DeleteFileW(path);
}

int Flush(const wchar_t *path) {
    if (!Durable) return 1;
    // Shared every way: a virus scanner may be reading the new file.
    HANDLE f = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0,
                           OPEN_EXISTING, 0, 0);
    if (f == INVALID_HANDLE_VALUE) return 0;
    int ok = FlushFileBuffers(f);
    CloseHandle(f);
    return ok;
}

int Place(const wchar_t *temp, const wchar_t *path) {
    DWORD a = ReadOnly(path);
    if (a != INVALID_FILE_ATTRIBUTES) SetFileAttributesW(path, a & ~FILE_ATTRIBUTE_READONLY);
    if (MoveFileExW(temp, path, MOVEFILE_REPLACE_EXISTING)) return 1;
    DWORD why = GetLastError();
    // Whatever keeps the download out (the running game) leaves the file as it was.
    if (a != INVALID_FILE_ATTRIBUTES) SetFileAttributesW(path, a);
    SetLastError(why);
    return 0;
}
