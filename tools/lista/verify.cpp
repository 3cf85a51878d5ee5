#include "verify.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>

#include "crypto.h"
#include "fetch.h"
#include "files.h"
#include "limits.h"
#include "maps.h"
#include "publish.h"
#include "report.h"
#include "rules.h"
#include "sign.h"
#include "update/chunkmap.h"

namespace fs = std::filesystem;

namespace {

struct Source {
    bool http = false;
    std::string base;  // the site's address, without a trailing '/'
    fs::path root;     // or its folder
};

struct Listed {
    std::string name, md5;
    uintmax_t size = 0;
};

// A path as the launcher puts it into an address: bytes that would change the
// address's meaning as %XX.
std::string FileAddress(const std::string &name) {
    return Escaped(name, [](unsigned char c) { return c == ' ' || c >= 0x7F || c < 0x20 || c == '%' || c == '#' || c == '?'; },
                   "%%%02X");
}

// The document at rel ("update/lista.txt") as Fetch gives it: the HTTP status
// (a folder answers 200 or 404 as a web server serving it would), 0 and why
// when it cannot be had.
int Get(const Source &s, const std::string &rel, const std::function<bool(const char *, size_t)> &sink,
        std::string &why) {
    if (s.http) return Fetch(s.base + "/" + FileAddress(rel), sink, why);
    fs::path path = s.root / fs::u8path(rel);
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) return 404;
    File f;
    if (!OpenRead(path, f, why)) return 0;
    static char buf[1 << 18];
    long long n;
    while ((n = ReadSome(f, buf, sizeof buf, why)) > 0)
        if (!sink(buf, (size_t)n)) break;
    std::string ignored;
    Close(f, ignored);
    return n < 0 ? 0 : 200;
}

// Up to cap bytes of a small document (one more shows it is longer).
int GetText(const Source &s, const std::string &rel, size_t cap, std::string &text, std::string &why) {
    text.clear();
    return Get(s, rel, [&](const char *p, size_t n) {
        text.append(p, std::min(n, cap + 1 - text.size()));
        return text.size() <= cap;
    }, why);
}

// A name as the launcher puts it into the file's address.
bool Hex32(const std::string &s) {
    if (s.size() != 32) return false;
    for (char c : s)
        if (!isxdigit((unsigned char)c)) return false;
    return true;
}

// The manifest's lines, checked as lista writes them and launchers read them.
std::vector<Listed> Parse(const std::string &text) {
    std::vector<Listed> out;
    std::map<std::string, std::string> keys;
    size_t lineNo = 0;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + 1;
        lineNo++;
        std::string where = "update/lista.txt line " + std::to_string(lineNo);
        size_t bar = line.find('|'), bar2 = bar == std::string::npos ? bar : line.find('|', bar + 1);
        if (bar2 == std::string::npos) {
            if (!line.empty()) Warn(where, "is no entry; launchers skip it");
            continue;
        }
        Listed e;
        e.name = line.substr(0, bar);
        e.md5 = line.substr(bar + 1, bar2 - bar - 1);
        std::string size = line.substr(bar2 + 1);
        if (!size.empty() && size.back() == '\r') size.pop_back();
        bool ok = CheckName(e.name);
        if (!Hex32(e.md5)) {
            Problem(where, "the MD5 of " + e.name + " is not 32 hexadecimal digits; launchers skip the line");
            ok = false;
        }
        if (size.empty() || size.size() > 10 || size.find_first_not_of("0123456789") != std::string::npos ||
            std::stoull(size) > MaxSize) {
            Problem(where, "the size of " + e.name + " is not a number of bytes under 4 GiB");
            ok = false;
        }
        auto [seen, fresh] = keys.emplace(CaseKey(e.name), e.name);
        if (!fresh) {
            Problem(where, e.name + " is listed already as " + seen->second + " (Windows sees one file)");
            ok = false;
        }
        if (!ok) continue;
        e.size = std::stoull(size);
        for (char &c : e.md5) c = (char)tolower((unsigned char)c);
        out.push_back(e);
    }
    return out;
}

void Signature(const Source &s, const std::string &manifest, const std::vector<std::pair<std::string, EcKey>> &keys,
               bool keysGiven) {
    std::string text, why;
    int status = GetText(s, "update/lista.txt.sig", MaxSignature, text, why);
    if (status == 0) {
        IoError("update/lista.txt.sig", "cannot be fetched: " + why);
        return;
    }
    if (status == 404) {
        if (keysGiven) Problem("update/lista.txt.sig", "is missing: launchers built with keys refuse this release");
        else Note("unsigned (no update/lista.txt.sig)");
        return;
    }
    SigFile sig;
    if (status != 200 || !ParseSig(text, sig)) {
        Problem("update/lista.txt.sig", status != 200 ? "the site answers HTTP " + std::to_string(status)
                                                      : "is not a signature file launchers read");
        return;
    }
    if (!keysGiven) {
        Note("signed with key %s, serial %llu (the signature is not checked: give --keys)", sig.id.c_str(),
             sig.serial);
        return;
    }
    for (const auto &k : keys)
        if (k.first == sig.id) {
            if (SigHolds(sig, k.second, manifest)) Note("signed with key %s, serial %llu: verified", sig.id.c_str(), sig.serial);
            else Problem("update/lista.txt.sig", "does not sign this manifest: launchers refuse the release");
            return;
        }
    Problem("update/lista.txt.sig", "is signed with key " + sig.id + ", which the given key lines do not hold: "
                                    "launchers built with them refuse the release");
}

// The chunk map of a listed file, when it has one and launchers may ask for
// it: "" (and *found false) when there is none.
std::string MapOf(const Source &s, const Listed &e, uint64_t mapMin, bool &found) {
    found = false;
    if (e.size < MapMinLeast) return "";
    std::string map, why, rel = "update/maps/" + e.md5 + ".map";
    int status = GetText(s, rel, MapHeadLen + (size_t)MapChunkMax * MapRecLen, map, why);
    if (status == 0) IoError(rel, "cannot be fetched: " + why);
    else if (status == 404 && mapMin && e.size >= mapMin)
        Warn(e.name, "has no chunk map (" + rel + "): launchers with an older copy fetch it whole");
    else if (status != 200 && status != 404) Problem(rel, "the site answers HTTP " + std::to_string(status));
    else if (status == 200) {
        std::string problem = MapProblem(map, e.md5, e.size);
        if (problem.empty()) found = true;
        else Problem(rel, problem + "; launchers fetch " + e.name + " whole");
    }
    return found ? map : "";
}

void Files(const Source &s, const std::vector<Listed> &files, uint64_t mapMin, uintmax_t &bytes) {
    bytes = 0;
    MapMaker maker;
    for (const Listed &e : files) {
        bool mapped;
        std::string map = MapOf(s, e, mapMin, mapped), made;
        // A map is checked against the chunks of the bytes the site serves.
        if (mapped) maker.Begin(&made);
        Md5 h;
        uintmax_t size = 0;
        std::string why;
        int status = Get(s, "update/files/" + e.name, [&](const char *p, size_t n) {
            h.Update(p, n);
            if (mapped) maker.Feed(p, n);
            size += n;
            return true;
        }, why);
        std::string md5 = h.HexDigest();
        if (mapped) {
            maker.End(md5);
            maker.Wait();
        }
        bytes += size;
        if (status == 0) IoError(e.name, "cannot be fetched: " + why);
        else if (status == 404) Problem(e.name, "is missing from the site");
        else if (status != 200) Problem(e.name, "the site answers HTTP " + std::to_string(status));
        else if (size != e.size)
            Problem(e.name, "has " + std::to_string(size) + " bytes; the manifest lists " + std::to_string(e.size));
        else if (md5 != e.md5) Problem(e.name, "differs from the manifest (MD5 " + md5 + ", listed " + e.md5 + ")");
        else if (mapped && made != map)
            Problem("update/maps/" + e.md5 + ".map", "does not hold the chunks of " + e.name +
                                                         "; launchers would fetch more of it than they need");
    }
}

// Files a stopped run left in the site's folder: the next run of lista clears
// them, and until then they say the site may not be what its manifest says.
void Leftovers(const fs::path &root) {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root / "update", ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        std::string name = Utf8(it->path().filename());
        for (const char *suffix : {TmpSuffix, OldSuffix})
            if (name.size() > strlen(suffix) && name.compare(name.size() - strlen(suffix), std::string::npos, suffix) == 0)
                Problem(Utf8(it->path().lexically_relative(root)),
                        "is left from a lista run that was stopped; run lista again to clear it away");
    }
}

}  // namespace

int Verify(const std::vector<std::string> &args) {
    std::vector<std::string> pos;
    std::string keyfile;
    uint64_t mapMin = MapMinDefault;
    for (size_t i = 0; i < args.size(); i++) {
        if (args[i] == "--keys" && i + 1 < args.size()) keyfile = args[++i];
        else if (args[i] == "--map-min" && i + 1 < args.size()) {
            if (!ParseMapMin(args[++i], mapMin)) return ExitIo;
        }
        else if (args[i] == "-q" || args[i] == "--quiet") Quiet = true;
        else if (args[i].size() > 1 && args[i][0] == '-') {
            fprintf(stderr, "lista: verify: unknown option %s (see lista --help)\n", args[i].c_str());
            return ExitIo;
        } else pos.push_back(args[i]);
    }
    if (pos.size() != 1) {
        fprintf(stderr, "lista: usage: lista verify SITE-OR-URL [--keys KEYFILE] [--map-min SIZE]\n");
        return ExitIo;
    }
    Source s;
    s.http = pos[0].compare(0, 7, "http://") == 0 || pos[0].compare(0, 8, "https://") == 0;
    s.base = pos[0];
    while (!s.base.empty() && s.base.back() == '/') s.base.pop_back();
    s.root = fs::u8path(pos[0]);
    std::error_code ec;
    if (!s.http && !fs::is_directory(s.root, ec)) {
        fprintf(stderr, "lista: %s is neither a site folder nor an http:// or https:// address\n", pos[0].c_str());
        return ExitIo;
    }
    std::vector<std::pair<std::string, EcKey>> keys;
    if (!keyfile.empty() && !ReadKeyLines(fs::u8path(keyfile), keys)) return ExitIo;

    std::string manifest, why;
    int status = GetText(s, "update/lista.txt", MaxManifest, manifest, why);
    if (status == 0) {
        IoError("update/lista.txt", "cannot be fetched: " + why);
        return Status(false);
    }
    if (status != 200) {
        Problem("update/lista.txt", status == 404 ? "is missing: launchers cannot check for updates"
                                                  : "the site answers HTTP " + std::to_string(status));
        return Status(false);
    }
    if (manifest.size() > MaxManifest) {
        Refusal("update/lista.txt", "has more than " + std::to_string(MaxManifest) +
                                        " bytes; launchers refuse the whole release");
        manifest.resize(MaxManifest);
    }
    std::vector<Listed> files = Parse(manifest);
    if (files.empty()) Problem("update/lista.txt", "lists no file: launchers report that they cannot check for updates");
    if (files.size() > MaxEntries)
        Problem("update/lista.txt", "lists " + std::to_string(files.size()) + " files; launchers refuse more than " +
                                        std::to_string(MaxEntries) + " (the whole release)");
    Signature(s, manifest, keys, !keyfile.empty());
    if (!s.http) Leftovers(s.root);
    uintmax_t bytes = 0;
    Files(s, files, mapMin, bytes);
    int problems = Problems + Refusals + IoErrors;
    if (problems)
        fprintf(stderr, "lista: %s: %d problem%s\n", pos[0].c_str(), problems, problems == 1 ? "" : "s");
    else
        Note("%s: %zu files, %.1f MiB, all as the manifest lists them", pos[0].c_str(), files.size(),
             bytes / 1048576.0);
    return Status(false);
}
