// The tables whose size the manifest decides (its text, its entries, the
// record of verified files and the index of names): one reservation of
// address space per run, bounded by TablesMax, committed piece by piece as
// they are taken and released all at once. Pages nobody writes cost no
// memory, so a table sized for the largest manifest costs what is used.
#pragma once
#include <stddef.h>

// The largest manifest (16 MiB, 100,000 entries) needs less than half of it
// (update/manifest.h: ListMax, EntryMax).
enum : size_t { TablesMax = (size_t)96 << 20 };

// n bytes, zeroed and 16-byte aligned, for the rest of the run; 0 when the
// bound is reached or the system has no memory to give.
void *Take(size_t n);

// How much has been taken, and giving back everything taken since: for
// scratch space used only for a moment (a compressed manifest).
size_t TakenMark();
void GiveBack(size_t mark);

// Releases every table: the end of the run.
void FreeTables();
