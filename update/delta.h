// Delta downloads: a listed file that the player has in another version is
// built from the chunks of the new version that the old copy already holds,
// and only the rest is fetched, with Range requests, from the file's own
// address. Which chunks make the new file comes from its chunk map
// (update/chunkmap.h), fetched from the site; the map is only a hint: the
// file is placed only when its whole MD5 is the manifest's.
//
// Which chunks the old copy holds is worked out by update/held.h, whose
// tables serve one delta at a time (a lane that comes to another waits).
#pragma once
#include <stdint.h>

#include "update/chunkmap.h"
#include "update/held.h"
#include "update/manifest.h"

// Brings entry e's new version into temp (its "X.novo") from the player's
// copy at path and the site: the file's chunk map is fetched, the chunks the
// copy holds are copied from it and the others fetched from url with Range
// requests (adjacent ones in one), in file order, then the whole file is
// checked against e's MD5. A partial in temp whose record belongs to e is
// built on. A range lost on the way is asked again from where it stopped (as
// Download does, net/retry.h); a server that answers a range with the whole
// file (200) gets it saved whole. GotNoDelta, with temp as it was or
// deleted, when no delta can be made or it went wrong: a file smaller than
// DeltaMin, no copy at path or one of less than half its size, no usable map
// (missing, damaged, of another version or file, too large), a copy that
// holds less than half of the new file, a range answered with other bytes
// than asked, a file that does not have e's MD5. Otherwise what Download
// returns, and *size the bytes that came from the site (or were there). It
// runs on lane (its transfer buffer, its share of the status line and the
// progress, as Download does: update/lanes.h).
int Delta(int lane, const ManifestEntry *e, const wchar_t *url, const wchar_t *path, const wchar_t *temp,
          const wchar_t *name, unsigned long long *size);

enum : uint64_t {
    // Smaller files are always fetched whole: a map's round trip would cost
    // about what a delta could save. lista writes maps from 4 MiB on by
    // default, and never below this.
    DeltaMin = 1 << 20,
};
