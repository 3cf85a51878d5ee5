// MD5 of a file through the platform's CryptoAPI.
#pragma once

// Writes the MD5 of the file at path into out as 32 lowercase hexadecimal
// characters and a NUL, and returns 1. Returns 0, with out untouched, when the
// file cannot be opened or read to its end, or the provider cannot hash.
int FileMd5(const wchar_t *path, char out[33]);

// 1 when the file at path has the MD5 md5 (32 characters, either case).
int Md5Matches(const wchar_t *path, const char *md5);

// The same for n bytes in memory; 0, out untouched, when the provider cannot hash.
int DataMd5(const void *data, unsigned long n, char out[33]);

// The same for data given in pieces: Md5Begin, then Md5Add for each piece,
// then Md5End, which writes the text and ends the sum in any case. 0 from
// any of them when the provider cannot hash (Md5End must still be called).
typedef unsigned long long Md5Sum;  // holds the provider's hash object
int Md5Begin(Md5Sum *s);
int Md5Add(Md5Sum *s, const void *data, unsigned long n);
int Md5End(Md5Sum *s, int ok, char out[33]);

// Called by FileMd5 with every path it is asked to hash, before it opens it;
// null in the launcher, set by tests that count what a run reads.
extern void (*Md5Hook)(const wchar_t *path);
