#include "publish.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "files.h"
#include "report.h"

const char *const TmpSuffix = ".lista-tmp";
const char *const OldSuffix = ".lista-old";

namespace {

struct Item {
    fs::path dst;
    Order order;
    bool hadOld = false;  // dst existed: its old bytes are at dst + OldSuffix
    bool aside = false;   // ... moved there, not linked (a file system without hard links)
    bool placed = false;  // the staged file is at dst
};

fs::path Root;
bool Locked = false;
std::vector<Item> Items;
std::vector<fs::path> Made;  // folders this run created, outermost first

fs::path With(const fs::path &p, const char *suffix) {
    fs::path q = p;
    q += suffix;
    return q;
}

bool EndsWith(const std::string &s, const char *suffix) {
    size_t n = strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

// A path as the operator knows it: relative to the site.
std::string Rel(const fs::path &p) { return Utf8(p.lexically_relative(Root)); }

#ifdef LISTA_TEST_HOOKS
// Only in the tests' build (lista-hooks): with LISTA_HOOK set, each step that
// changes what the site serves is announced on stdout as "<step> <path>" and
// waits for a line on stdin: "fail" makes the step fail as a full or
// read-only disk would, anything else lets it go on. The tests watch the
// site between steps, fail any one of them, or kill the run there.
bool Hook(const char *step, const fs::path &p, std::string &why) {
    if (!getenv("LISTA_HOOK")) return true;
    printf("%s %s\n", step, Rel(p).c_str());
    fflush(stdout);
    char line[32] = "";
    if (fgets(line, sizeof line, stdin) && strncmp(line, "fail", 4) == 0) {
        why = "Input/output error (injected by the test)";
        return false;
    }
    return true;
}
#else
bool Hook(const char *, const fs::path &, std::string &) { return true; }
#endif

// Makes dir and every missing folder above it, each noted for the undo.
bool MakeFolders(const fs::path &dir, std::string &why) {
    std::vector<fs::path> missing;
    std::error_code ec;
    for (fs::path p = dir; !fs::exists(fs::symlink_status(p, ec)); p = p.parent_path()) {
        missing.push_back(p);
        if (p.parent_path() == p || p.parent_path().empty()) break;
    }
    for (auto p = missing.rbegin(); p != missing.rend(); ++p) {
        if (!fs::create_directory(*p, ec) && ec) {
            why = Reason(ec);
            return false;
        }
        Made.push_back(*p);
    }
    return true;
}

void Undo(size_t upto) {
    std::string why;
    for (size_t j = upto + 1; j-- > 0;) {
        Item &it = Items[j];
        fs::path old = With(it.dst, OldSuffix);
        bool ok = true;
        if (it.hadOld && (it.placed || it.aside)) ok = Replace(old, it.dst, why);
        else if (it.placed) ok = Remove(it.dst, why);
        if (it.hadOld && ok) ok = Remove(old, why);  // a link to what is back at dst
        if (!ok) IoError(Rel(it.dst), "cannot be put back as it was: " + why);
    }
}

void Collect(const fs::path &dir, std::vector<fs::path> &tmps, std::vector<fs::path> &olds) {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        std::string name = Utf8(it->path().filename());
        if (EndsWith(name, TmpSuffix)) tmps.push_back(it->path());
        if (EndsWith(name, OldSuffix)) olds.push_back(it->path());
    }
}

// What a run killed half-way left: staged files, and files set aside for
// files it had already moved in. Its manifest still waiting under its
// temporary name means the release never went in: the files set aside
// return. Otherwise the release was in and only its clean-up was missing.
bool Recover() {
    fs::path update = Root / "update", manifest = With(update / "lista.txt", TmpSuffix);
    std::vector<fs::path> tmps, olds;
    Collect(update, tmps, olds);
    if (tmps.empty() && olds.empty()) return true;
    std::error_code ec;
    bool back = fs::exists(manifest, ec);
    Warn(Utf8(Root), std::string("a lista run stopped while publishing left ") + std::to_string(tmps.size() + olds.size()) +
                         " files; " + (back ? "putting the release before it back" : "finishing its release"));
    std::string why;
    for (const fs::path &old : olds) {
        std::string name = Utf8(old.filename());
        fs::path dst = old.parent_path() / fs::u8path(name.substr(0, name.size() - strlen(OldSuffix)));
        if ((back && !Replace(old, dst, why)) || !Remove(old, why)) {
            IoError(Rel(old), "cannot be cleared away: " + why);
            return false;
        }
    }
    for (const fs::path &tmp : tmps)
        if (tmp != manifest && !Remove(tmp, why)) {
            IoError(Rel(tmp), "cannot be cleared away: " + why);
            return false;
        }
    if (!Remove(manifest, why)) {
        IoError(Rel(manifest), "cannot be cleared away: " + why);
        return false;
    }
    return true;
}

}  // namespace

bool OpenSite(const fs::path &site) {
    Root = site;
    std::string why;
    if (!MakeFolders(site, why)) {
        IoError(Utf8(site), "cannot create the site folder: " + why);
        return false;
    }
    if (!LockSite(site, why)) {
        IoError(Utf8(site), "cannot lock the site: " + why);
        return false;
    }
    Locked = true;
    return Recover();
}

void CloseSite(bool failed) {
    std::string why;
    if (failed) {
        for (const Item &it : Items)
            if (!it.placed) Remove(With(it.dst, TmpSuffix), why);
        Items.clear();
    }
    if (Locked) UnlockSite();
    Locked = false;
    if (failed) {
        std::error_code ec;
        for (auto p = Made.rbegin(); p != Made.rend(); ++p) fs::remove(*p, ec);  // only when empty
        Made.clear();
    }
}

bool ReadServed(const fs::path &site, Served &s) {
    fs::path path = site / "update" / "lista.txt";
    std::error_code ec;
    s = Served();
    if (!fs::exists(fs::symlink_status(path, ec))) return true;
    std::string why;
    // A manifest far past what launchers read is no release of ours; its
    // lines are compared only to spare copies, so a cut one costs nothing.
    if (!ReadSmall(path, 64 << 20, s.text, why)) {
        IoError(Rel(path), "cannot be read: " + why);
        return false;
    }
    s.exists = true;
    s.time = fs::last_write_time(path, ec);
    for (size_t at = 0; at < s.text.size();) {
        size_t end = s.text.find('\n', at);
        if (end == std::string::npos) end = s.text.size();
        std::string line = s.text.substr(at, end - at);
        size_t bar = line.find('|');
        if (bar != std::string::npos) s.files[line.substr(0, bar)] = line.substr(bar + 1);
        at = end + 1;
    }
    return true;
}

bool Stage(const fs::path &dst, Order order, fs::path &tmp, bool &siteShape) {
    std::error_code ec;
    siteShape = false;
    if (fs::is_directory(fs::symlink_status(dst, ec))) {
        Refusal(Rel(dst), "is a folder on the site, where this release has a file; move it away");
        siteShape = true;
        return false;
    }
    // The files come folder by folder: a folder checked and made for the
    // file before needs no second look (the site is locked for the run).
    static fs::path Ready;
    if (dst.parent_path() != Ready) {
        for (fs::path p = dst.parent_path(); p != Root && p.has_relative_path(); p = p.parent_path()) {
            fs::file_status st = fs::status(p, ec);
            if (fs::exists(st) && !fs::is_directory(st)) {
                Refusal(Rel(p), "is a file on the site, where this release has a folder; move it away");
                siteShape = true;
                return false;
            }
        }
        std::string why;
        if (!MakeFolders(dst.parent_path(), why)) {
            IoError(Rel(dst.parent_path()), "cannot create the folder: " + why);
            return false;
        }
        Ready = dst.parent_path();
    }
    Items.push_back({dst, order});
    tmp = With(dst, TmpSuffix);
    return true;
}

bool StageText(const fs::path &dst, Order order, const std::string &text) {
    fs::path tmp;
    bool shape;
    std::string why;
    if (!Stage(dst, order, tmp, shape)) return false;
    if (!WriteSmall(tmp, text, why)) {
        IoError(Rel(tmp), "cannot be written: " + why);
        return false;
    }
    return true;
}

size_t StagedCount() { return Items.size(); }

bool Commit() {
    std::stable_sort(Items.begin(), Items.end(), [](const Item &a, const Item &b) { return a.order < b.order; });
    std::string why;
    for (size_t i = 0; i < Items.size(); i++) {
        Item &it = Items[i];
        fs::path old = With(it.dst, OldSuffix);
        std::error_code ec;
        // The old file keeps a second name until the release is in, so that it
        // can come back; a hard link leaves it served meanwhile, and the new
        // one replaces it in one step.
        bool ok = true;
        if (fs::exists(fs::symlink_status(it.dst, ec))) {
            ok = Hook("keep", it.dst, why) && Remove(old, why);
            if (ok && !Link(it.dst, old, why)) {
                ok = Replace(it.dst, old, why);
                it.aside = ok;
            }
            it.hadOld = ok;
        }
        if (ok) ok = Hook("place", it.dst, why) && Replace(With(it.dst, TmpSuffix), it.dst, why);
        if (!ok) {
            IoError(Rel(it.dst), "cannot be put in place: " + why);
            Undo(i);
            fprintf(stderr, "lista: the site is back as it was\n");
            return false;
        }
        it.placed = true;
    }
    for (const Item &it : Items)
        if (it.hadOld && !Remove(With(it.dst, OldSuffix), why))
            Warn(Rel(With(it.dst, OldSuffix)), "cannot be deleted (" + why + "); the next run clears it away");
    Items.clear();
    Made.clear();  // the folders hold the release now
    return true;
}

size_t Prune(const fs::path &folder, const std::set<std::string> &keep, size_t &failed) {
    size_t gone = 0;
    failed = 0;
    std::error_code ec;
    std::vector<fs::path> files, folders;
    for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec)) folders.push_back(it->path());
        else if (!keep.count(Utf8(it->path().lexically_relative(folder)))) files.push_back(it->path());
    }
    if (ec) {
        IoError(Rel(folder), "cannot be read to prune: " + Reason(ec));
        failed++;
    }
    std::string why;
    for (const fs::path &f : files) {
        if (Remove(f, why)) gone++;
        else {
            IoError(Rel(f), "cannot be pruned: " + why);
            failed++;
        }
    }
    // Innermost first, so that a folder emptied by its subfolders goes too.
    std::sort(folders.begin(), folders.end(), [](const fs::path &a, const fs::path &b) { return a.native() > b.native(); });
    for (const fs::path &f : folders)
        if (fs::is_empty(f, ec)) fs::remove(f, ec);
    return gone;
}
