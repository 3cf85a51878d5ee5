// The update run: brings the game folder in line with the site's manifest and
// replaces the launcher's own executable when the manifest lists a new one.
#pragma once

// Runs once on the network thread, after the feed, when Net exists. Reports
// only through Publish (Status, Progress, WM_NETSTATE) and Restart; ends with
// Progress 1000 whatever happens. Never leaves a listed file half written or
// unverified, and never leaves the folder without a launcher.
void UpdateFiles();
