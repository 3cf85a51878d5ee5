#include "walk.h"

#include <algorithm>
#include <map>

#include "limits.h"
#include "report.h"
#include "rules.h"

namespace {

struct Walker {
    fs::path site, key;
    std::vector<fs::path> folders;      // the client and the folders below it being walked
    std::vector<std::string> names;     // their names ("" for the client)
    std::map<std::string, std::string> spelt;  // case key -> the first name with it
    std::vector<Entry> *out;
};

bool Same(const fs::path &a, const fs::path &b) {
    std::error_code ec;
    return fs::equivalent(a, b, ec);
}

// Two names Windows takes for one: both would land in one file or folder.
bool Clash(Walker &w, const std::string &name, const char *what) {
    auto [at, fresh] = w.spelt.emplace(CaseKey(name), name);
    if (fresh || at->second == name) return false;
    Problem(name, std::string("differs from \"") + at->second + "\" only in letter case; Windows sees one " + what);
    return true;
}

void File(Walker &w, const fs::path &path, const std::string &name) {
    std::error_code ec;
    if (!w.key.empty() && Same(path, w.key)) {
        Refusal(name, "is the signing key given to --sign; a private key is never published");
        return;
    }
    bool ok = CheckName(name);
    ok = !Clash(w, name, "file") && ok;
    if (!ok) return;
    std::string last = CaseKey(name.substr(name.rfind('/') + 1));
    if (last == "ZORUNJANELA.INI")
        Warn(name, "holds the players' options; listing it resets them on every update (exclude it with -x)");
    Entry e;
    e.name = name;
    e.path = path;
    e.size = fs::file_size(path, ec);
    if (ec) {
        IoError(name, "cannot be read: " + Reason(ec));
        return;
    }
    if (e.size > MaxSize) {
        Problem(name, "has 4 GiB or more; the launcher counts a file's size in 32 bits");
        return;
    }
    w.out->push_back(e);
}

bool Walk(Walker &w, const fs::path &dir, const std::string &prefix) {
    std::error_code ec;
    fs::directory_iterator it(dir, ec), end;
    auto cannot = [&](const std::error_code &why) {
        IoError(prefix.empty() ? Utf8(dir) : prefix.substr(0, prefix.size() - 1),
                "cannot read the folder: " + Reason(why));
        return false;
    };
    if (ec) return cannot(ec);
    bool ok = true;
    for (; it != end; it.increment(ec)) {
        if (ec) return cannot(ec);
        const fs::path path = it->path();
        std::string name = prefix + Utf8(path.filename());
        if (Excluded(name)) continue;
        std::error_code lec;
        bool link = fs::is_symlink(fs::symlink_status(path, lec));
        fs::file_status st = fs::status(path, ec);
        if (ec || !fs::exists(st)) {
            if (link && (!ec || ec == std::errc::no_such_file_or_directory))
                Problem(name, "is a link to " + Utf8(fs::read_symlink(path, lec)) + ", which does not exist");
            else if (link && ec == std::errc::too_many_symbolic_link_levels)
                Problem(name, "is a link that leads back to itself");
            else
                IoError(name, "cannot be read: " + Reason(ec));
            continue;
        }
        if (fs::is_directory(st)) {
            Clash(w, name, "folder");
            // A folder reached again below itself would be walked for ever.
            auto again = std::find_if(w.folders.begin(), w.folders.end(),
                                      [&](const fs::path &f) { return Same(path, f); });
            if (again != w.folders.end()) {
                const std::string &to = w.names[again - w.folders.begin()];
                Problem(name, "is a link to " + (to.empty() ? std::string("the client folder") : "\"" + to + "\"") +
                                  ", a folder it lies in: its files would be listed without end");
                continue;
            }
            if (!w.site.empty() && Same(path, w.site)) {
                Refusal(name, "is the site folder; the site is never published into itself");
                continue;
            }
            w.folders.push_back(path);
            w.names.push_back(name);
            ok = Walk(w, path, name + "/") && ok;
            w.folders.pop_back();
            w.names.pop_back();
            if (!ok) return false;
            continue;
        }
        if (!fs::is_regular_file(st)) {
            Warn(name, "is not a regular file; left out");
            continue;
        }
        File(w, path, name);
    }
    return ok;
}

}  // namespace

bool Inside(const fs::path &path, const fs::path &folder) {
    std::error_code ec;
    fs::path p = fs::weakly_canonical(fs::absolute(path, ec), ec);
    if (ec) return false;
    for (;;) {
        if (Same(p, folder)) return true;
        fs::path up = p.parent_path();
        if (up == p || up.empty()) return false;
        p = up;
    }
}

bool Collect(const fs::path &client, const fs::path &site, const fs::path &keyfile, std::vector<Entry> &out) {
    Walker w;
    w.site = site;
    w.key = keyfile;
    w.folders = {client};
    w.names = {""};
    w.out = &out;
    int before = IoErrors;
    Walk(w, client, "");
    std::sort(out.begin(), out.end(), [](const Entry &a, const Entry &b) { return a.name < b.name; });
    // The launcher moves its running executable aside to "<name>.old" when it
    // replaces itself: a listed file of that name would be deleted each time.
    std::vector<Entry> kept;
    for (Entry &e : out) {
        std::string key = CaseKey(e.name);
        size_t n = key.size();
        auto exe = n > 8 && key.compare(n - 8, 8, ".EXE.OLD") == 0 ? w.spelt.find(key.substr(0, n - 4))
                                                                   : w.spelt.end();
        if (exe != w.spelt.end()) {
            Problem(e.name, "the launcher moves \"" + exe->second + "\" to this name when it replaces itself");
            continue;
        }
        kept.push_back(e);
    }
    out.swap(kept);
    return IoErrors == before;
}
