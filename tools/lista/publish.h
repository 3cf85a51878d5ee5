// Putting a release on the site, all or nothing. Everything the release
// changes is first written beside its place under a temporary name (staged);
// only when all of it is there does Commit move it into place, in the order
// of Order, so that a launcher reading the site at any moment finds every
// file its manifest lists. A failure anywhere puts back what was moved and
// removes everything this run wrote, folders included.
//
// The run holds the site's lock from OpenSite to CloseSite. A run that was
// killed half-way leaves its staged and set-aside files behind; the next
// OpenSite finishes that run's release when its manifest had gone into place,
// and puts the release before it back when not.
#pragma once
#include <filesystem>
#include <map>
#include <set>
#include <string>

namespace fs = std::filesystem;

// The order in which staged items go into place: game files first, then what
// describes them, the manifest last of all.
enum Order {
    OrderFile,         // update/files/<name>
    OrderAside,        // anything else launchers fetch by a name the manifest implies
    OrderSignature,    // update/lista.txt.sig
    OrderManifestAlt,  // other encodings of the manifest, beside it
    OrderManifest,     // update/lista.txt: from here on the new release is served
};

extern const char *const TmpSuffix;  // ".lista-tmp": staged
extern const char *const OldSuffix;  // ".lista-old": the file it replaces, until the release is in

// Locks the site (creating the folder when missing) and finishes or undoes a
// run that was stopped half-way. False after an I/O error; CloseSite(true)
// then removes what it made.
bool OpenSite(const fs::path &site);
// Lets go of the site; with failed, first removes everything staged and
// every folder this run created.
void CloseSite(bool failed);

// The release the site serves now: its manifest's text, and name ->
// "md5|size" of its lines. Empty when there is none.
struct Served {
    bool exists = false;
    std::string text;
    std::map<std::string, std::string> files;
    fs::file_time_type time;  // the manifest's last change
};
bool ReadServed(const fs::path &site, Served &served);

// Registers dst to be replaced at Commit and gives the temporary path to
// write it to (its folders made). False after a message when the site has a
// folder where dst goes, or a file where one of its folders goes (then with
// siteShape set), or on an I/O error.
bool Stage(const fs::path &dst, Order order, fs::path &tmp, bool &siteShape);
// Stages dst with the given bytes.
bool StageText(const fs::path &dst, Order order, const std::string &text);
// How many items are staged.
size_t StagedCount();

// Moves everything staged into place; on failure puts everything back, and
// returns false after a message.
bool Commit();

// Deletes the files below folder (and folders left empty) whose names,
// relative to folder with '/' between parts, are not in keep. Returns the
// count deleted; failures are reported (IoError) and counted in failed.
size_t Prune(const fs::path &folder, const std::set<std::string> &keep, size_t &failed);
