// Several files at once: the update run's download pass (and its comparison
// pass) spread over lanes, one thread each, and the one status line and
// progress bar they share.
//
// A player's link to the site spends most of a small file's time waiting for
// its first byte; with four files under way the link stays busy. Every lane
// fetches one file at a time through download.cpp, with a transfer buffer of
// its own; WinINet keeps each lane's connection alive from one file to the
// next.
#pragma once
#include <windows.h>

enum { LaneMax = 8, LanesDefault = 4 };

// A job of a pass: entry i, on lane (0 .. lanes - 1). Returns 0, or the text
// of a failure that ends the pass.
typedef const wchar_t *(*LaneJob)(int lane, int i);

// Runs job for i = 0 .. n - 1, in that order of starting, on up to lanes
// threads (1 .. LaneMax) while the calling thread waits. After the first
// failure no job starts; those under way run to their end. Returns the first
// failure's text (the first to happen), or 0. With no thread to be had, the
// jobs run one by one on the calling thread.
const wchar_t *RunLanes(int lanes, int n, LaneJob job);

// ---- The status line and the bar of the download pass -------------------------
// The status line names the file whose try started last, with its counts; the
// bar counts the bytes of the files placed and of those under way against
// total. The window is told at most every PublishMs, however many small files
// go by; what changed since is told when that time is up.

// Starts the count for the need files of a pass, total bytes listed; nothing
// is shown until the first try.
void StartFetches(unsigned long long total, int need);
// Lane's file, shown as name, starts a try: its first takes the next
// ordinal, the "i" of "(i de n)", which it keeps until LaneDone (a delta
// given up and the whole download after it are one file). The status line shows it from now on;
// have: its bytes already there (a partial being resumed).
void LaneTry(int lane, const wchar_t *name, int retry, unsigned long long have);
// Lane's file has have bytes.
void LaneHave(int lane, unsigned long long have);
// Lane's file is placed (size bytes) or given up (size 0): the lane's bytes
// count no longer as under way.
void LaneDone(int lane, unsigned long long size);
// A delta download takes held bytes of its file from the player's own copy:
// the total the bar counts against shrinks by them (and grows back by -held
// when the delta is given up).
void LaneHeld(long long held);

// "Baixando NAME (INDEX de NEED)..." into out (StatusLen units), with
// " nova tentativa RETRY de 3" behind it from the first retry on. A name too
// long for the status line loses its beginning to "...", never the counts.
void FetchText(wchar_t *out, const wchar_t *name, int index, int need, int retry);

extern DWORD PublishMs;  // 50; tests that check each publication set 0

// The lanes of the comparison pass, which hashes: 0 for one per processor
// (the launcher); tests that need the files hashed in order set 1.
extern int HashLanes;
