// The launcher's replacement of its own executable, and the guard that keeps
// the process alive while the swap is half done.
#pragma once
#include <windows.h>

// Puts the new executable at temp in the running launcher's place: the running
// one can be renamed but not overwritten, so it steps aside to SelfExe + ".old"
// first (the next start deletes that). Returns 1, with Restart set, when the
// new launcher stands under SelfExe; 0 when it does not, in which case the old
// one is back under its name. Refused (0, nothing moved) once EndSwaps has run.
int ReplaceSelf(const wchar_t *temp);

// Deletes SelfExe + ".old", the launcher a self-update replaced, read-only or
// not; the next start's job.
void DropOld();

// Called by the window thread before the process ends: waits up to ms for a
// swap under way to finish and lets no new one start, so that no way of
// closing the window can leave the folder with only the ".old" launcher.
void EndSwaps(DWORD ms);
enum { SwapWaitMs = 5000 };

// Called between the two moves of a swap; null in the launcher, set by tests
// that need the swap caught half done.
extern void (*SwapHook)();
