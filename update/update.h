// The update run: brings the game folder in line with the site's manifest and
// replaces the launcher's own executable when the manifest lists a new one.
#pragma once
#include "net/http.h"

// Runs once on the network thread, after the feed, when Net exists. Reports
// only through Publish (Status, Progress, WM_NETSTATE) and Restart; ends with
// Progress 1000 whatever happens. Never leaves a listed file half written or
// unverified, and never leaves the folder without a launcher.
void UpdateFiles();

// The download path: streams the body of an open request into the file f,
// publishing text with the run's progress after every piece. Returns the
// bytes written; a write that fails ends the transfer. Whether the file is
// whole is for its MD5 to say.
long long SaveBody(HttpReq *r, HANDLE f, const wchar_t *text);
