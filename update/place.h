// Putting a verified download in its place, and clearing away the files the
// launcher manages. A file copied from read-only media, or marked by an
// installer, carries the read-only attribute, and Windows refuses to delete
// or replace it (ERROR_ACCESS_DENIED): the launcher's own files, and the
// game files its manifest lists, it clears of it first.
#pragma once
#include <windows.h>

// Clears the read-only attribute of the file at path; a folder, or no file,
// is left alone.
void Writable(const wchar_t *path);

// Deletes the file at path, read-only or not; DeleteFileW's result.
int Erase(const wchar_t *path);

// Puts the bytes of the file at path on the disk, not just in the system's
// cache: a file moved into place from the cache alone could stand, after a
// power cut, with its size and time and zeros inside, and the record of
// verified files would trust it. 1 when done (or Durable is 0).
int Flush(const wchar_t *path);

// 1 in the launcher; the benchmark that measures what flushing costs sets 0.
extern int Durable;

// Moves temp onto path, replacing the file there, read-only or not (whose
// attribute stays when the move fails). 1 on success; 0 otherwise, with the
// move's error as the last error.
int Place(const wchar_t *temp, const wchar_t *path);
