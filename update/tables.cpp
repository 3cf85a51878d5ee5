#include "update/tables.h"

#include <windows.h>

static BYTE *Base;      // the reservation; null until the first Take of a run
static size_t Used;     // bytes handed out
static size_t Backed;   // bytes committed, a multiple of the page size

void *Take(size_t n) {
    if (!Base && !(Base = (BYTE *)VirtualAlloc(0, TablesMax, MEM_RESERVE, PAGE_READWRITE))) return 0;
    n = (n + 15) & ~(size_t)15;
    if (n > TablesMax - Used) return 0;
    size_t end = Used + n;
    if (end > Backed) {
        size_t to = (end + 65535) & ~(size_t)65535;
        if (to > TablesMax) to = TablesMax;
        if (!VirtualAlloc(Base + Backed, to - Backed, MEM_COMMIT, PAGE_READWRITE)) return 0;
        Backed = to;
    }
    void *p = Base + Used;
    Used = end;
    return p;
}

size_t TakenMark() { return Used; }

// Committed pages stay committed; zeroed again, because Take promises zeros.
// Decommitting them instead gives their memory back at once.
void GiveBack(size_t mark) {
    if (mark >= Used) return;
    size_t from = (mark + 65535) & ~(size_t)65535;
    if (from < Backed) {
        VirtualFree(Base + from, Backed - from, MEM_DECOMMIT);
        Backed = from;
    }
    if (mark < Backed) ZeroMemory(Base + mark, (Used < Backed ? Used : Backed) - mark);
    Used = mark;
}

void FreeTables() {
    if (Base) VirtualFree(Base, 0, MEM_RELEASE);
    Base = 0;
    Used = Backed = 0;
}
