// lista: builds the update manifest of a Velmora site from a game client folder.
//
// Reads every file below CLIENT, writes SITE/update/lista.txt (name|md5|size,
// one line each, LF, sorted) and copies the files to SITE/update/files/<name>,
// the address the launcher downloads them from. Everything the launcher would
// skip, cut or choke on is reported; by default such a problem fails the run
// and nothing is written, so a broken manifest never reaches players.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "crypto.h"
#include "sign.h"
#include "update/names.h"

namespace fs = std::filesystem;

namespace {

const char *Version = "lista 1.0";

// What the launcher reads: at most 65,535 bytes of manifest, 256 entries, and
// names of at most 199 bytes.
const size_t MaxManifest = 65535, MaxEntries = 256, MaxName = 199;
const uintmax_t MaxSize = 0xFFFFFFFF;

struct Options {
    std::vector<std::string> excludes;
    bool check = false, allowSkips = false, noCopy = false, quiet = false;
    std::string keyfile;  // --sign
    bool unsignedOk = false;  // --unsigned: publish without a signature on a signed site
    Signer signer;
    fs::path client, site;
};

struct Entry {
    std::string name;  // relative, UTF-8, '/' between folders
    fs::path path;
    uintmax_t size = 0;
    std::string md5;
};

int problems = 0;

// Control characters in a name are shown as \xNN, so a report stays one line.
std::string Shown(const std::string &name) {
    std::string out;
    for (unsigned char c : name) {
        if (c < 32 || c == 127) {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else {
            out += (char)c;
        }
    }
    return out;
}

void Problem(const std::string &name, const std::string &what) {
    problems++;
    fprintf(stderr, "lista: %s: %s\n", Shown(name).c_str(), what.c_str());
}

void Warn(const std::string &name, const std::string &what) {
    fprintf(stderr, "lista: warning: %s: %s\n", Shown(name).c_str(), what.c_str());
}

std::string Utf8Name(const fs::path &p) {
#ifdef _WIN32
    auto u = p.generic_u8string();  // C++17: std::string of UTF-8
    return std::string(u.begin(), u.end());
#else
    return p.generic_string();  // the bytes as stored; checked for UTF-8 below
#endif
}

bool ValidUtf8(const std::string &s) {
    size_t i = 0, n = s.size();
    while (i < n) {
        unsigned char c = s[i];
        int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (!len || i + len > n) return false;
        uint32_t cp = len == 1 ? c : c & (0x7f >> len);
        for (int k = 1; k < len; k++) {
            unsigned char t = s[i + k];
            if ((t & 0xc0) != 0x80) return false;
            cp = cp << 6 | (t & 0x3f);
        }
        if ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) ||
            cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff))
            return false;
        i += len;
    }
    return true;
}

std::string Upper(std::string s) {
    for (char &c : s)
        if (c >= 'a' && c <= 'z') c = c - 'a' + 'A';
    return s;
}

// Every reason the launcher, Windows or the web server would mishandle a name.
// Returns false (after reporting) when the file cannot be listed.
bool CheckName(const std::string &name) {
    bool ok = true;
    auto bad = [&](const std::string &why) {
        Problem(name, why);
        ok = false;
    };
    if (!ValidUtf8(name)) bad("the name is not valid UTF-8");
    if (name.size() > MaxName)
        bad("the name has " + std::to_string(name.size()) + " bytes; the launcher skips names over 199");
    // The launcher's own rule, so that nothing published is skipped by it.
    switch (NameFaultOf(name.c_str())) {
    case NameParent: bad("the launcher skips names containing \"..\""); break;
    case NameDrive: bad("the launcher skips names containing \":\""); break;
    case NameDevice: bad("a part of the name is a Windows device name, which the launcher skips"); break;
    case NameRooted:
    case NameEmpty: bad("the launcher skips this name"); break;
    }
    std::string upper = Upper(name);
    if (upper.size() >= 5 && upper.compare(upper.size() - 5, 5, ".NOVO") == 0)
        bad("names ending in \".novo\" collide with the launcher's temporary downloads");
    if (upper.size() >= 8 && upper.compare(upper.size() - 8, 8, ".RETOMAR") == 0)
        bad("names ending in \".retomar\" collide with the launcher's records of partial downloads");
    if (name.find('\\') != std::string::npos) bad("a backslash would become a folder separator on Windows");
    if (name.find('|') != std::string::npos) bad("a \"|\" would end the name in the manifest");
    if (name.find('#') != std::string::npos || name.find('%') != std::string::npos)
        bad("\"#\" and \"%\" change the meaning of the download address");
    for (unsigned char c : name)
        if (c < 32 || c == 127 || strchr("<>\"?*", c)) {
            bad("the name holds a character Windows does not allow in file names");
            break;
        }
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find('/', start);
        if (end == std::string::npos) end = name.size();
        std::string part = name.substr(start, end - start);
        if (!part.empty() && (part.back() == ' ' || part.back() == '.'))
            bad("\"" + part + "\" ends in a space or a dot, which Windows drops");
        start = end + 1;
    }
    return ok;
}

// Glob with '*' (no '/') and '?'; a pattern without '/' also matches the last
// part of the name, so "-x *.log" leaves out logs in every folder.
bool Glob(const char *p, const char *s) {
    for (; *p; p++, s++) {
        if (*p == '*') {
            for (const char *t = s;; t++) {
                if (Glob(p + 1, t)) return true;
                if (!*t || *t == '/') return false;
            }
        }
        if (!*s || (*p != '?' && *p != *s) || (*p == '?' && *s == '/')) return false;
    }
    return !*s;
}

bool Excluded(const Options &o, const std::string &name) {
    std::string last = name.substr(name.rfind('/') + 1);
    for (const std::string &x : o.excludes) {
        if (Glob(x.c_str(), name.c_str())) return true;
        if (x.find('/') == std::string::npos && Glob(x.c_str(), last.c_str())) return true;
        // An excluded folder excludes everything below it.
        if (name.size() > x.size() && name.compare(0, x.size(), x) == 0 && name[x.size()] == '/') return true;
    }
    return false;
}

struct Progress {
    bool quiet;
    size_t files;
    uintmax_t bytes;
    size_t doneFiles = 0;
    uintmax_t doneBytes = 0;
    std::chrono::steady_clock::time_point last = std::chrono::steady_clock::now();

    void Step(uintmax_t n, bool fileDone) {
        doneBytes += n;
        doneFiles += fileDone;
        auto now = std::chrono::steady_clock::now();
        if (quiet || now - last < std::chrono::seconds(1)) return;
        last = now;
        fprintf(stderr, "lista: %zu of %zu files, %.1f of %.1f MiB\n", doneFiles, files,
                doneBytes / 1048576.0, bytes / 1048576.0);
    }
};

const char *const TmpSuffix = ".lista-tmp", *const OldSuffix = ".lista-old";

fs::path With(const fs::path &p, const char *suffix) {
    fs::path q = p;
    q += suffix;
    return q;
}

// Hashes a file and, when tmp is given, copies it there in the same read, so
// the copy holds exactly the bytes hashed; its size is the bytes read, too.
// Nothing on the site is replaced yet.
bool HashCopy(Entry &e, const fs::path &tmp, Progress &pr) {
    std::ifstream in(e.path, std::ios::binary);
    if (!in) {
        Problem(e.name, "cannot be read");
        return false;
    }
    std::ofstream out;
    if (!tmp.empty()) {
        std::error_code ec;
        fs::create_directories(tmp.parent_path(), ec);
        out.open(tmp, std::ios::binary | std::ios::trunc);
        if (!out) {
            Problem(e.name, "cannot write " + Utf8Name(tmp));
            return false;
        }
    }
    Md5 h;
    static char buf[1 << 16];
    uintmax_t size = 0;
    while (in) {
        in.read(buf, sizeof buf);
        std::streamsize n = in.gcount();
        if (n <= 0) break;
        h.Update(buf, (size_t)n);
        if (out.is_open()) out.write(buf, n);
        size += (uintmax_t)n;
        pr.Step((uintmax_t)n, false);
    }
    if (in.bad()) {
        Problem(e.name, "read error");
        return false;
    }
    pr.Step(0, true);
    e.md5 = h.HexDigest();
    e.size = size;
    if (size > MaxSize) {
        Problem(e.name, "has 4 GiB or more; the launcher counts a file's size in 32 bits");
        return false;
    }
    if (out.is_open()) {
        out.close();
        if (!out) {
            Problem(e.name, "cannot write " + Utf8Name(tmp));
            return false;
        }
    }
    return true;
}

// The MD5 of a file, or "" when it cannot be read.
std::string FileMd5(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "";
    Md5 h;
    static char buf[1 << 16];
    while (in.read(buf, sizeof buf) || in.gcount() > 0) h.Update(buf, (size_t)in.gcount());
    return in.bad() ? "" : h.HexDigest();
}

// The site's current manifest as name -> "md5|size"; empty without one.
std::map<std::string, std::string> Published(const fs::path &site) {
    std::map<std::string, std::string> out;
    std::ifstream in(site / "update" / "lista.txt", std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        size_t bar = line.find('|');
        if (bar != std::string::npos) out[line.substr(0, bar)] = line.substr(bar + 1);
    }
    return out;
}

// True when the site already serves e's bytes under its name, as its current
// manifest lists them: then the copy stays as it is, and so do the ETag and
// the date the web server gives it, which players' resumed downloads of it
// are checked against.
bool Unchanged(const Entry &e, const fs::path &dst, const std::map<std::string, std::string> &published) {
    auto p = published.find(e.name);
    std::error_code ec;
    return p != published.end() && p->second == e.md5 + "|" + std::to_string(e.size) &&
           fs::is_regular_file(dst, ec) && fs::file_size(dst, ec) == e.size && FileMd5(dst) == e.md5;
}

bool WriteAll(const fs::path &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(text.data(), (std::streamsize)text.size());
    out.close();
    return !out.fail();
}

// Puts a release on the site: every copied file and then the manifest move from
// their temporary names into place, each old file stepping aside first. When
// any move fails, everything goes back as it was, so the site never pairs a
// manifest with files of another release. dsts are the copies' final paths.
bool Publish(const std::vector<fs::path> &dsts, const fs::path &manifest) {
    std::vector<fs::path> all = dsts;
    all.push_back(manifest);
    std::vector<bool> hadOld(all.size(), false);
    size_t done = 0;
    std::error_code ec;
    for (; done < all.size(); done++) {
        const fs::path &dst = all[done];
        if (fs::exists(dst, ec)) {
            fs::rename(dst, With(dst, OldSuffix), ec);
            if (ec) break;
            hadOld[done] = true;
        }
        fs::rename(With(dst, TmpSuffix), dst, ec);
        if (ec) break;
    }
    bool ok = done == all.size();
    for (size_t i = 0; i < all.size(); i++) {
        std::error_code quiet;
        fs::path old = With(all[i], OldSuffix);
        if (ok) {
            fs::remove(old, quiet);
            continue;
        }
        if (i < done) fs::remove(all[i], quiet);      // a new file that went in
        if (hadOld[i]) fs::rename(old, all[i], quiet);  // the old one returns
        fs::remove(With(all[i], TmpSuffix), quiet);
    }
    return ok;
}

void Usage(FILE *f) {
    fprintf(f,
            "Usage: lista [options] CLIENT SITE\n"
            "       lista keygen KEYFILE\n"
            "\n"
            "Builds the update manifest of a Velmora site from the game client folder CLIENT:\n"
            "writes SITE/update/lista.txt and copies every file to SITE/update/files/<name>.\n"
            "The update manages at most 256 files: give CLIENT just the files releases change,\n"
            "main.exe and the launcher itself, or leave the rest out with -x. Names the\n"
            "launcher would skip or mishandle, more than 256 files or a manifest over 65,535\n"
            "bytes are reported and fail the run; the site is then left exactly as it was.\n"
            "\n"
            "Options:\n"
            "  -x, --exclude PATTERN  leave out matching paths (relative, '/' between folders,\n"
            "                         '*' and '?' wildcards; a pattern without '/' also\n"
            "                         matches file names in any folder; a folder excludes\n"
            "                         everything below it). May be repeated.\n"
            "      --check            check and hash only; write nothing\n"
            "      --allow-skips      report problems as warnings, leave those files out,\n"
            "                         and write the rest\n"
            "      --no-copy          write the manifest only, do not copy the files\n"
            "      --sign KEYFILE     also write SITE/update/lista.txt.sig, signed with the\n"
            "                         private key of 'lista keygen KEYFILE'\n"
            "      --serial N         the release serial to sign (default: the time in seconds,\n"
            "                         above the site's current serial)\n"
            "      --force            sign a serial lower than the site's current one, or\n"
            "                         the site's own serial for another release\n"
            "      --unsigned         publish without --sign on a site that is signed\n"
            "  -q, --quiet            no progress report\n"
            "  -h, --help             show this help\n"
            "  -V, --version          show the version\n"
            "\n"
            "keygen makes a new ECDSA P-256 key pair: the private key goes to KEYFILE\n"
            "(a new file, readable by you only), the public key line to standard output.\n"
            "\n"
            "Exit status: 0 done; 1 problems found (nothing written); 2 usage or I/O error.\n");
}

int Run(std::vector<std::string> args) {
    if (!args.empty() && args[0] == "keygen") return KeyGen(std::vector<std::string>(args.begin() + 1, args.end()));
    Options o;
    std::vector<std::string> pos;
    for (size_t i = 0; i < args.size(); i++) {
        const std::string &a = args[i];
        if (a == "-h" || a == "--help") {
            Usage(stdout);
            return 0;
        } else if (a == "-V" || a == "--version") {
            printf("%s\n", Version);
            return 0;
        } else if (a == "-x" || a == "--exclude") {
            if (++i == args.size()) {
                fprintf(stderr, "lista: %s needs a pattern\n", a.c_str());
                return 2;
            }
            std::string x = args[i];
            while (!x.empty() && x.back() == '/') x.pop_back();
            o.excludes.push_back(x);
        } else if (a.compare(0, 10, "--exclude=") == 0) {
            o.excludes.push_back(a.substr(10));
        } else if (a == "--unsigned") {
            o.unsignedOk = true;
        } else if (a == "--check") {
            o.check = true;
        } else if (a == "--allow-skips") {
            o.allowSkips = true;
        } else if (a == "--no-copy") {
            o.noCopy = true;
        } else if (a == "-q" || a == "--quiet") {
            o.quiet = true;
        } else if ((a == "--sign" || a == "--serial") && i + 1 == args.size()) {
            fprintf(stderr, "lista: %s needs a value\n", a.c_str());
            return 2;
        } else if (a == "--sign") {
            o.keyfile = args[++i];
        } else if (a == "--serial") {
            const std::string &n = args[++i];
            char *end = nullptr;
            o.signer.serial = strtoull(n.c_str(), &end, 10);
            o.signer.serialGiven = true;
            if (n.empty() || n.size() > 19 || n[0] < '0' || n[0] > '9' || *end) {
                fprintf(stderr, "lista: --serial takes a number of up to 19 digits\n");
                return 2;
            }
        } else if (a == "--force") {
            o.signer.force = true;
        } else if (a.size() > 1 && a[0] == '-' && a != "--") {
            fprintf(stderr, "lista: unknown option %s (see lista --help)\n", a.c_str());
            return 2;
        } else if (a != "--") {
            pos.push_back(a);
        }
    }
    if (!(pos.size() == 2 || (o.check && pos.size() == 1))) {
        fprintf(stderr, "lista: expected CLIENT and SITE folders (see lista --help)\n");
        return 2;
    }
    o.client = fs::u8path(pos[0]);
    if (pos.size() > 1) o.site = fs::u8path(pos[1]);
    std::error_code ec;
    if (!fs::is_directory(o.client, ec)) {
        fprintf(stderr, "lista: %s is not a folder\n", pos[0].c_str());
        return 2;
    }
    // The key and the serial are settled before anything is written.
    if (o.keyfile.empty() && (o.signer.serialGiven || o.signer.force)) {
        fprintf(stderr, "lista: --serial and --force go with --sign\n");
        return 2;
    }
    // A site that is signed stays signed: every launcher built with keys would
    // refuse a release without its signature.
    if (o.keyfile.empty() && !o.unsignedOk && !o.check && !o.site.empty() &&
        fs::exists(o.site / "update" / "lista.txt.sig", ec)) {
        fprintf(stderr, "lista: the site is signed (update/lista.txt.sig): launchers built with keys would refuse\n"
                        "lista: this release; sign it with --sign KEYFILE, or publish it unsigned with --unsigned\n");
        return 1;
    }
    if (!o.keyfile.empty()) {
        if (o.check || o.site.empty()) {
            fprintf(stderr, "lista: --check writes nothing to sign\n");
            return 2;
        }
        if (!LoadSigner(fs::u8path(o.keyfile), {o.client, o.site}, o.signer)) return 2;
        if (!ChooseSerial(o.signer, o.site)) return 1;
    }

    // Collect, check and sort the names.
    std::vector<Entry> entries;
    std::map<std::string, std::string> folded;  // upper-case name -> name, for clashes on Windows
    fs::path siteAbs = o.site.empty() ? fs::path() : fs::weakly_canonical(o.site, ec);
    auto it = fs::recursive_directory_iterator(o.client, fs::directory_options::follow_directory_symlink, ec);
    if (ec) {
        fprintf(stderr, "lista: cannot read %s\n", pos[0].c_str());
        return 2;
    }
    for (; it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (ec) {
            fprintf(stderr, "lista: cannot read below %s\n", pos[0].c_str());
            return 2;
        }
        const fs::directory_entry &d = *it;
        std::string name = Utf8Name(fs::relative(d.path(), o.client, ec));
        if (d.is_directory(ec)) {
            // A site folder inside the client folder would list itself.
            if (!siteAbs.empty() && fs::weakly_canonical(d.path(), ec) == siteAbs) it.disable_recursion_pending();
            else if (Excluded(o, name)) it.disable_recursion_pending();
            continue;
        }
        if (Excluded(o, name)) continue;
        if (!d.is_regular_file(ec)) {
            Warn(name, "not a regular file; left out");
            continue;
        }
        bool ok = CheckName(name);
        std::string key = Upper(name);
        if (folded.count(key)) {
            Problem(name, "differs from \"" + folded[key] + "\" only in letter case; Windows keeps one");
            ok = false;
        }
        folded[key] = name;
        if (!ok) continue;
        std::string last = Upper(name.substr(name.rfind('/') + 1));
        if (last == "ZORUNJANELA.INI")
            Warn(name, "holds the players' options; listing it resets them on every update (exclude it with -x)");
        Entry e;
        e.name = name;
        e.path = d.path();
        e.size = d.file_size(ec);
        if (e.size > MaxSize) {
            Problem(name, "has 4 GiB or more; the launcher counts a file's size in 32 bits");
            continue;
        }
        entries.push_back(e);
    }
    std::sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) { return a.name < b.name; });

    // The launcher moves its running executable aside to "<name>.old" when it
    // replaces itself: a listed file of that name would be deleted each time.
    std::vector<Entry> kept;
    for (Entry &e : entries) {
        std::string key = Upper(e.name);
        size_t n = key.size();
        if (n > 8 && key.compare(n - 8, 8, ".EXE.OLD") == 0 && folded.count(key.substr(0, n - 4))) {
            Problem(e.name, "the launcher moves \"" + folded[key.substr(0, n - 4)] +
                                "\" to this name when it replaces itself");
            continue;
        }
        kept.push_back(e);
    }
    entries.swap(kept);

    if (entries.empty()) {
        problems++;
        fprintf(stderr, "lista: no files to list; launchers would report that they cannot check for updates\n");
    }
    if (entries.size() > MaxEntries) {
        problems++;
        fprintf(stderr,
                "lista: %zu files; the update manages at most 256. List the files releases change,\n"
                "lista: main.exe and the launcher itself; leave the rest out with -x, or give lista\n"
                "lista: a folder holding just the managed files\n",
                entries.size());
    }

    // Check and hash everything, copying each file to a temporary name in the
    // same read; nothing on the site changes until all of it has succeeded.
    uintmax_t total = 0;
    for (const Entry &e : entries) total += e.size;
    Progress pr{o.quiet, entries.size(), total};
    bool copy = !o.check && !o.noCopy && (problems == 0 || o.allowSkips);
    std::string manifest;
    std::vector<fs::path> copied;
    std::map<std::string, std::string> published = o.site.empty() ? std::map<std::string, std::string>()
                                                                   : Published(o.site);
    for (Entry &e : entries) {
        fs::path dst;
        if (copy) dst = o.site / "update" / "files" / fs::u8path(e.name);
        if (!HashCopy(e, copy ? With(dst, TmpSuffix) : fs::path(), pr)) continue;
        if (copy && Unchanged(e, dst, published))
            fs::remove(With(dst, TmpSuffix), ec);
        else if (copy)
            copied.push_back(dst);
        manifest += e.name + "|" + e.md5 + "|" + std::to_string(e.size) + "\n";
    }
    if (manifest.size() > MaxManifest) {
        problems++;
        fprintf(stderr, "lista: the manifest would have %zu bytes; the launcher reads only 65,535\n",
                manifest.size());
    }

    auto discard = [&] {
        for (const fs::path &dst : copied) fs::remove(With(dst, TmpSuffix), ec);
    };
    if (problems && !o.allowSkips) {
        discard();
        fprintf(stderr, "lista: %d problem%s; nothing written\n", problems, problems == 1 ? "" : "s");
        return 1;
    }
    // The site's own serial may sign only the site's own manifest again: two
    // releases under one serial could be swapped for each other at will.
    if (!o.keyfile.empty() && o.signer.current && o.signer.serial == o.signer.current && !o.signer.force) {
        std::ifstream in(o.site / "update" / "lista.txt", std::ios::binary);
        std::string now((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (now != manifest) {
            discard();
            fprintf(stderr,
                    "lista: serial %llu is the site's current one, which signs another release; launchers\n"
                    "lista: would take either (choose a higher serial, or use --force)\n",
                    o.signer.serial);
            return 1;
        }
    }
    std::string signature;
    if (!o.keyfile.empty() && !SignManifest(o.signer, manifest, signature)) {
        discard();
        return 2;
    }
    if (!o.check && !o.site.empty()) {
        // The manifest goes in last, so no launcher reads it before its files are there;
        // its signature goes in with the files, so the two change within moments.
        fs::path list = o.site / "update" / "lista.txt";
        fs::path sig = o.site / "update" / "lista.txt.sig";
        fs::create_directories(list.parent_path(), ec);
        if (!signature.empty()) copied.push_back(sig);
        if (!WriteAll(With(list, TmpSuffix), manifest) ||
            (!signature.empty() && !WriteAll(With(sig, TmpSuffix), signature)) || !Publish(copied, list)) {
            discard();
            fs::remove(With(list, TmpSuffix), ec);
            fprintf(stderr, "lista: cannot write the site in %s; nothing changed\n", pos[1].c_str());
            return 2;
        }
        if (signature.empty() && fs::exists(sig, ec))
            fprintf(stderr, "lista: warning: %s is left from an earlier signing; launchers built with\n"
                            "lista: warning: keys refuse a manifest it does not sign (sign it with --sign)\n",
                    Utf8Name(sig).c_str());
        if (!signature.empty() && !o.quiet)
            fprintf(stderr, "lista: signed with key %s, serial %llu\n", o.signer.id.c_str(), o.signer.serial);
    }
    if (!o.quiet)
        fprintf(stderr, "lista: %zu files, %.1f MiB, manifest %zu bytes%s\n", entries.size(),
                total / 1048576.0, manifest.size(), o.check ? " (checked only)" : "");
    return 0;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t **argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; i++) {
        auto u = fs::path(argv[i]).u8string();
        args.emplace_back(u.begin(), u.end());
    }
    return Run(args);
}
#else
int main(int argc, char **argv) { return Run(std::vector<std::string>(argv + 1, argv + argc)); }
#endif
