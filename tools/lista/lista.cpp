// lista: publishes a release of a Velmora site from a game client folder.
//
// Reads every file below CLIENT, writes SITE/update/lista.txt (name|md5|size,
// one line each, LF, sorted) and copies the files to SITE/update/files/<name>,
// the address the launcher downloads them from. Every run either publishes
// exactly the client folder or changes nothing and says why: everything the
// launcher would skip, cut or choke on is reported, and the site changes only
// once all of the release is staged beside it (publish.h).
#include <chrono>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "gzip.h"
#include "limits.h"
#include "maps.h"
#include "publish.h"
#include "report.h"
#include "rules.h"
#include "sign.h"
#include "stage.h"
#include "verify.h"
#include "walk.h"

namespace {

const char *Version = "lista 1.1";

struct Options {
    bool check = false, allowSkips = false, prune = false;
    std::string keyfile;      // --sign
    bool unsignedOk = false;  // --unsigned: publish without a signature on a signed site
    uint64_t mapMin = MapMinDefault;  // --map-min; 0: no chunk maps
    Signer signer;
    fs::path client, site;
    std::string clientArg, siteArg;
};

void Usage(FILE *f) {
    fprintf(f,
            "Usage: lista [options] CLIENT SITE\n"
            "       lista --check [options] CLIENT [SITE]\n"
            "       lista verify SITE-OR-URL [--keys KEYFILE] [--map-min SIZE]\n"
            "       lista keygen KEYFILE\n"
            "\n"
            "Publishes a release of a Velmora site from the game client folder CLIENT: writes\n"
            "SITE/update/lista.txt, the same compressed as lista.txt.gz (for servers that send\n"
            "it to launchers that take gzip, as nginx's gzip_static), and copies every file to\n"
            "SITE/update/files/<name> (SITE is created when missing). The update manages at\n"
            "most %zu files and a manifest of at most %zu bytes (16 MiB), with names of at\n"
            "most %zu bytes: a whole game client; leave out what players keep of their own\n"
            "(their options, logs) with -x.\n"
            "Every run publishes exactly the client folder, or changes nothing and says why.\n"
            "\n"
            "Options:\n"
            "  -x, --exclude PATTERN  leave out matching paths (relative to CLIENT, '/' between\n"
            "                         folders, '*' and '?' wildcards; a pattern without '/'\n"
            "                         also matches file names in any folder; a folder leaves\n"
            "                         out everything below it). May be repeated; a pattern\n"
            "                         that matches nothing is an error.\n"
            "      --check            check and hash only, and with --sign sign in memory;\n"
            "                         write nothing\n"
            "      --allow-skips      report files with problems as warnings, leave them out,\n"
            "                         and publish the rest (never an empty release, nor one\n"
            "                         past the launcher's limits)\n"
            "      --prune            after publishing, delete from SITE/update/files the files\n"
            "                         this release no longer lists, and from SITE/update/maps\n"
            "                         their chunk maps\n"
            "      --map-min SIZE     write a chunk map for each file of SIZE bytes or more\n"
            "                         (K, M or G for KiB, MiB, GiB; at least 1M; default 4M;\n"
            "                         0 writes none): launchers with an older copy of the file\n"
            "                         then fetch only the parts that changed\n"
            "      --sign KEYFILE     also write SITE/update/lista.txt.sig, signed with the\n"
            "                         private key of 'lista keygen KEYFILE'\n"
            "      --serial N         the release serial to sign (default: the time in seconds,\n"
            "                         above the site's current serial); at most 18 digits\n"
            "      --force            sign a serial lower than the site's current one, the\n"
            "                         site's own serial for another release, or a serial of\n"
            "                         19 digits\n"
            "      --rotate           sign a site signed with another key (see the README's\n"
            "                         key rotation: launchers must know the new key first)\n"
            "      --unsigned         publish without --sign on a site that is signed\n"
            "  -q, --quiet            no progress report\n"
            "  -h, --help             show this help\n"
            "  -V, --version          show the version\n"
            "\n"
            "verify checks a published site, a folder or an http:// or https:// address, as\n"
            "launchers see it: the manifest within their limits, every file with its size\n"
            "and MD5, the signature against the key lines of KEYFILE (a VELMORA_KEYS file),\n"
            "and each file's chunk map against its chunks (a file of --map-min bytes or more\n"
            "without one is warned about).\n"
            "\n"
            "keygen makes a new ECDSA P-256 key pair: the private key goes to KEYFILE\n"
            "(a new file, readable by you only), the public key line to standard output.\n"
            "\n"
            "Exit status: 0 done; 1 refused: problems found, nothing written (verify: the\n"
            "site is not as launchers need it); 2 usage or system error (an unreadable\n"
            "folder, a full or read-only disk, the network), nothing written; 3 published,\n"
            "but --prune could not delete every old file.\n",
            MaxEntries, MaxManifest, MaxName);
}

// Parses the options of a publish or check; -1 to go on, else the exit status.
int Parse(const std::vector<std::string> &args, Options &o) {
    std::vector<std::string> pos;
    for (size_t i = 0; i < args.size(); i++) {
        const std::string &a = args[i];
        bool valued = a == "-x" || a == "--exclude" || a == "--sign" || a == "--serial" || a == "--map-min";
        if (valued && i + 1 == args.size()) {
            fprintf(stderr, "lista: %s needs a value\n", a.c_str());
            return ExitIo;
        }
        if (a == "-h" || a == "--help") {
            Usage(stdout);
            return ExitDone;
        } else if (a == "-V" || a == "--version") {
            printf("%s\n", Version);
            return ExitDone;
        } else if (a == "-x" || a == "--exclude" || a.compare(0, 10, "--exclude=") == 0) {
            if (!AddExclude(a[1] == 'x' || a == "--exclude" ? args[++i] : a.substr(10))) return ExitIo;
        } else if (a == "--unsigned") {
            o.unsignedOk = true;
        } else if (a == "--check") {
            o.check = true;
        } else if (a == "--allow-skips") {
            o.allowSkips = true;
        } else if (a == "--prune") {
            o.prune = true;
        } else if (a == "--no-copy") {
            fprintf(stderr, "lista: --no-copy is gone: a manifest without its files is a broken release. Publish\n"
                            "lista: into a folder of its own and upload that, files first\n");
            return ExitIo;
        } else if (a == "-q" || a == "--quiet") {
            Quiet = true;
        } else if (a == "--sign") {
            o.keyfile = args[++i];
        } else if (a == "--serial") {
            const std::string &n = args[++i];
            char *end = nullptr;
            o.signer.serial = strtoull(n.c_str(), &end, 10);
            o.signer.serialGiven = true;
            if (n.empty() || n.size() > 19 || n[0] < '0' || n[0] > '9' || *end) {
                fprintf(stderr, "lista: --serial takes a number of up to 19 digits\n");
                return ExitIo;
            }
        } else if (a == "--map-min") {
            if (!ParseMapMin(args[++i], o.mapMin)) return ExitIo;
        } else if (a == "--force") {
            o.signer.force = true;
        } else if (a == "--rotate") {
            o.signer.rotate = true;
        } else if (a.size() > 1 && a[0] == '-' && a != "--") {
            fprintf(stderr, "lista: unknown option %s (see lista --help)\n", a.c_str());
            return ExitIo;
        } else if (a != "--") {
            pos.push_back(a);
        }
    }
    if (!(pos.size() == 2 || (o.check && pos.size() == 1))) {
        fprintf(stderr, "lista: expected CLIENT and SITE folders (see lista --help)\n");
        return ExitIo;
    }
    o.clientArg = pos[0];
    o.client = fs::u8path(pos[0]);
    if (pos.size() > 1) {
        o.siteArg = pos[1];
        o.site = fs::u8path(pos[1]);
    }
    if (o.keyfile.empty() && (o.signer.serialGiven || o.signer.force || o.signer.rotate)) {
        fprintf(stderr, "lista: --serial, --force and --rotate go with --sign\n");
        return ExitIo;
    }
    return -1;
}

// Checks the folders and the key before the site is touched; -1 to go on.
int Settle(Options &o) {
    std::error_code ec;
    if (!fs::is_directory(o.client, ec)) {
        fprintf(stderr, "lista: %s is not a folder\n", o.clientArg.c_str());
        return ExitIo;
    }
    // A site in the client would list itself; a client in the site would be
    // published as its own files.
    if (!o.site.empty() && (Inside(o.site, o.client) || Inside(o.client, o.site))) {
        fprintf(stderr, "lista: the client %s and the site %s overlap; give each a folder of its own\n",
                o.clientArg.c_str(), o.siteArg.c_str());
        return ExitIo;
    }
    if (!o.keyfile.empty() && !LoadSigner(fs::u8path(o.keyfile), {o.client, o.site}, o.signer)) return ExitIo;
    // A site that is signed stays signed: every launcher built with keys would
    // refuse a release without its signature.
    if (o.keyfile.empty() && !o.unsignedOk && !o.check && fs::exists(o.site / "update" / "lista.txt.sig", ec)) {
        fprintf(stderr, "lista: the site is signed (update/lista.txt.sig): launchers built with keys would refuse\n"
                        "lista: this release; sign it with --sign KEYFILE, or publish it unsigned with --unsigned\n");
        return ExitRefused;
    }
    return -1;
}

// nginx names a file's version by its last-write time in whole seconds and
// its size: a manifest replaced within the second by one of the same size
// would keep its ETag, and launchers asking whether it changed would be told
// it did not. The staged manifest's time is moved past the old one's.
void Later(const fs::path &dst, const Served &served) {
    std::error_code ec;
    fs::path tmp = dst;
    tmp += TmpSuffix;
    auto floor = served.time + std::chrono::seconds(2);
    if (served.exists && fs::last_write_time(tmp, ec) < floor && !ec) fs::last_write_time(tmp, floor, ec);
}

std::string Manifest(const std::vector<Entry> &entries) {
    std::string text;
    for (const Entry &e : entries)
        if (!e.md5.empty()) text += e.name + "|" + e.md5 + "|" + std::to_string(e.size) + "\n";
    return text;
}

// Ends a run that changes nothing: the staged files and new folders go.
int Refuse(bool opened, const Options &o) {  // opened: OpenSite was called
    if (opened) CloseSite(true);
    int status = Status(o.allowSkips);
    int n = Problems + Refusals + IoErrors;
    fprintf(stderr, "lista: %d problem%s; nothing written\n", n, n == 1 ? "" : "s");
    return status == ExitDone ? ExitRefused : status;
}

int Publish(Options &o) {
    int early = Settle(o);
    if (early >= 0) return early;
    bool opened = !o.check;
    if (opened && !OpenSite(o.site)) return Refuse(true, o);
    if (!o.keyfile.empty() && !o.site.empty() && !ChooseSerial(o.signer, o.site)) {
        Refusals++;
        return Refuse(opened, o);
    }

    std::vector<Entry> entries;
    if (!Collect(o.client, o.site, fs::u8path(o.keyfile), entries)) return Refuse(opened, o);
    ExcludesAllUsed();
    if (entries.empty())
        Refusal("", "no files to list; launchers would report that they cannot check for updates");
    if (entries.size() > MaxEntries)
        Refusal("", std::to_string(entries.size()) + " files; the update manages at most " +
                        std::to_string(MaxEntries) +
                        "; leave out what the update should not manage with -x");

    Served served;
    if (opened && !ReadServed(o.site, served)) return Refuse(opened, o);
    bool copy = opened && !IoErrors && !Refusals && (!Problems || o.allowSkips);
    size_t copied = 0;
    if (!ReadClient(entries, copy ? o.site / "update" / "files" : fs::path(), served, copy ? o.mapMin : 0, copied))
        return Refuse(opened, o);
    std::string manifest = Manifest(entries);
    if (manifest.size() > MaxManifest)
        Refusal("", "the manifest would have " + std::to_string(manifest.size()) + " bytes; launchers take at most " +
                        std::to_string(MaxManifest));
    if (manifest.empty() && entries.size()) Refusal("", "no file could be listed");
    if (Status(o.allowSkips) != ExitDone) return Refuse(opened, o);

    // The site's own serial may sign only the site's own manifest again: two
    // releases under one serial could be swapped for each other at will.
    Signer &s = o.signer;
    if (!o.keyfile.empty() && s.current && s.serial == s.current && !s.force && !SignsAgain(s, manifest)) {
        Refusal("", "serial " + std::to_string(s.serial) +
                        " is the site's current one, which signs another release; launchers would take either "
                        "(choose a higher serial, or use --force)");
        return Refuse(opened, o);
    }
    std::string signature;
    if (!o.keyfile.empty() && !SignManifest(s, manifest, signature)) {
        IoErrors++;
        return Refuse(opened, o);
    }
    uintmax_t total = 0;
    for (const Entry &e : entries) total += e.size;
    if (o.check) {
        if (!signature.empty()) Note("signing checked: key %s, serial %llu", s.id.c_str(), s.serial);
        Note("%zu files, %.1f MiB, manifest %zu bytes (checked only; nothing written)", entries.size(),
             total / 1048576.0, manifest.size());
        return ExitDone;
    }

    fs::path update = o.site / "update";
    size_t maps = 0;
    if (!StageMaps(entries, o.site, o.mapMin, maps)) return Refuse(opened, o);
    // The compressed manifest goes with the plain one, always the same
    // release: a server that sent an older one to launchers taking gzip would
    // hand them another release than the signature's.
    std::error_code gone;
    bool fresh = copied || manifest != served.text || !served.exists;
    if (fresh || !fs::exists(update / "lista.txt.gz", gone)) {
        std::string packed = Gzip(manifest);
        if (packed.empty()) IoError(Utf8(update / "lista.txt.gz"), "cannot be compressed");
        if (packed.empty() || !StageText(update / "lista.txt.gz", OrderManifestAlt, packed)) return Refuse(opened, o);
        Later(update / "lista.txt.gz", served);
    }
    if (fresh && !StageText(update / "lista.txt", OrderManifest, manifest)) return Refuse(opened, o);
    if (fresh) Later(update / "lista.txt", served);
    if (!signature.empty() && !StageText(update / "lista.txt.sig", OrderSignature, signature))
        return Refuse(opened, o);
    bool changed = StagedCount() > 0;
    if (changed && !Commit()) return Refuse(opened, o);
    std::error_code ec;
    if (signature.empty() && fs::exists(update / "lista.txt.sig", ec))
        Warn(Utf8(update / "lista.txt.sig"), "is left from an earlier signing; launchers built with keys refuse a "
                                             "manifest it does not sign (sign it with --sign)");
    if (!signature.empty()) Note("signed with key %s, serial %llu", s.id.c_str(), s.serial);
    int status = ExitDone;
    if (o.prune) {
        std::set<std::string> keep;
        for (const Entry &e : entries) keep.insert(e.name);
        size_t failed = 0, gone = Prune(update / "files", keep, failed);
        Note("pruned %zu file%s no longer listed", gone, gone == 1 ? "" : "s");
        // The maps of files no longer listed go with them.
        std::set<std::string> mapped;
        for (const Entry &e : entries) mapped.insert(e.md5 + ".map");
        size_t mapsFailed = 0;
        if (fs::is_directory(update / "maps", ec)) Prune(update / "maps", mapped, mapsFailed);
        if (failed || mapsFailed) status = ExitPruned;
    }
    CloseSite(false);
    Note("%zu files, %.1f MiB, manifest %zu bytes; %zu file%s copied, %zu chunk map%s written%s", entries.size(),
         total / 1048576.0, manifest.size(), copied, copied == 1 ? "" : "s", maps, maps == 1 ? "" : "s",
         changed ? "" : "; the site already serves this release");
    return status;
}

int Run(const std::vector<std::string> &args) {
    if (!args.empty() && args[0] == "keygen") return KeyGen(std::vector<std::string>(args.begin() + 1, args.end()));
    if (!args.empty() && args[0] == "verify") return Verify(std::vector<std::string>(args.begin() + 1, args.end()));
    Options o;
    int parsed = Parse(args, o);
    return parsed >= 0 ? parsed : Publish(o);
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
