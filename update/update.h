// The update run: brings the game folder in line with the site's manifest and
// replaces the launcher's own executable when the manifest lists a new one.
#pragma once
#include "net/http.h"

// Runs once on the network thread, after the feed, when Net exists. Reports
// only through Publish (Status, Progress, WM_NETSTATE) and Restart; ends with
// Progress 1000 whatever happens. Never leaves a listed file half written or
// unverified, and never leaves the folder without a launcher.
void UpdateFiles();

// Publishes text with the run's progress: the bytes of the files already
// placed and have bytes of the one being fetched.
void ShowFetch(const wchar_t *text, unsigned long long have);

// A delta download takes held bytes of the file from the player's own copy:
// the run's total to fetch, which the progress counts against, shrinks by
// them (and grows back by -held when the delta is given up).
void TakeHeld(long long held);
