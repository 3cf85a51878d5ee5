// The record of verified files: what the launcher learnt of each listed file
// the last time it hashed it (size, last-write time, identity, MD5), so that a
// start where nothing changed reads no file. One record per game folder, per
// user, under the local application data folder: the game folder may be
// read-only, and everything in it belongs to the operator's manifest.
//
// It also keeps the names of the files a run still had to fetch, so that the
// partial download of one that a later release no longer lists is deleted.
//
// A run uses it in these steps, with the manifest's n entries e: LoadRecord
// (which also looks at every listed file, folder by folder: survey.h) and
// DropStrayPartials before the comparison pass; there Vouched for each listed
// file, then CheckFile for each it does not vouch for, and NotePending for
// each still to fetch; SaveRecord before the first download, Remember for
// each file placed after its download, SaveRecord at the end. CheckFile,
// NotePending and Remember of different entries may run on several lanes at
// once. A record that cannot be read or written only costs time (every file
// is then hashed, as without one) and leaves partials of files no longer
// listed in place.
#pragma once

#include "update/manifest.h"

// Reads the record of the game folder Dir for a run over the n entries of e,
// and surveys the folder. Without a usable one (missing, damaged, of another
// folder or version), and once a week, every file of the run is hashed. A
// record written by the launcher before this one (version 2) is read once and
// replaced. Without memory for its tables the run goes on with no record.
// The survey runs on up to lanes threads.
void LoadRecord(ManifestEntry *e, int n, int lanes);

// 1 when the record vouches for entry i's file as the survey found it, with
// no partial download beside it: the file is current, and nothing needs to
// look at it. 0 leaves it to CheckFile. One lane only, before CheckFile's.
int Vouched(int i);

// 1 when the file at path, listed as entry i, has the entry's MD5; 0 when it
// differs, is missing or cannot be read. The remembered MD5 stands in for
// hashing only when the file's size, last-write time and identity are those
// remembered and it was last written a few seconds or more before that MD5
// was worked out (or the launcher placed it itself); otherwise the file is
// hashed and what was found remembered.
int CheckFile(int i, const wchar_t *path);

// Remembers that the file now at path, entry i, has the entry's MD5: the run
// has just verified and placed it.
void Remember(int i, const wchar_t *path);

// 0 when the survey saw that entry i's file has no partial download beside
// it ("X.novo", "X.retomar"); 1 when it has, or nobody could tell.
int PartialBeside(int i);

// Notes that entry i is still to fetch in this run: a partial download of it
// may be left in the game folder.
void NotePending(int i);

// Deletes the partial download ("X.novo" with its "X.retomar") of each file
// the last record noted as still to fetch that the manifest no longer lists,
// in any letter case. Only a partial whose "X.retomar" reads well is touched;
// one that cannot be deleted now stays noted for the next run.
void DropStrayPartials();

// Writes the files checked, remembered or noted in this run as the new record
// (a temporary file beside it, flushed to the disk when the run placed a file,
// then a move). Fails quietly.
void SaveRecord();

// The record's path for the game folder dir, in out of cap units; 0 (out
// empty) when there is no place for one. KeptPath: the same place, for the
// last accepted manifest (update/kept.h).
int RecordPath(const wchar_t *dir, wchar_t *out, int cap);
int KeptPath(const wchar_t *dir, wchar_t *out, int cap);

// The current time as a FILETIME count; null in the launcher (the system
// clock), set by tests that play a record's age.
extern unsigned long long (*RecordClock)();
