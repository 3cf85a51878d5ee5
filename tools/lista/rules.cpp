#include "rules.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "limits.h"
#include "report.h"
#include "update/names.h"

namespace {

const uint16_t Upcase[][2] = {
#include "upcase.inc"
};

struct Exclude {
    std::string pattern;
    bool used = false;
};
std::vector<Exclude> Excludes;

// The next code point of s at i (advancing i), or -1 at a malformed byte.
long Next(const std::string &s, size_t &i) {
    unsigned char c = s[i];
    int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (!len || i + len > s.size()) return -1;
    uint32_t cp = len == 1 ? c : c & (0x7f >> len);
    for (int k = 1; k < len; k++) {
        unsigned char t = s[i + k];
        if ((t & 0xc0) != 0x80) return -1;
        cp = cp << 6 | (t & 0x3f);
    }
    if ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) || cp > 0x10ffff ||
        (cp >= 0xd800 && cp <= 0xdfff))
        return -1;
    i += len;
    return (long)cp;
}

void Put(std::string &out, uint32_t cp) {
    if (cp < 0x80) {
        out += (char)cp;
    } else if (cp < 0x800) {
        out += (char)(0xc0 | cp >> 6);
        out += (char)(0x80 | (cp & 0x3f));
    } else if (cp < 0x10000) {
        out += (char)(0xe0 | cp >> 12);
        out += (char)(0x80 | (cp >> 6 & 0x3f));
        out += (char)(0x80 | (cp & 0x3f));
    } else {
        out += (char)(0xf0 | cp >> 18);
        out += (char)(0x80 | (cp >> 12 & 0x3f));
        out += (char)(0x80 | (cp >> 6 & 0x3f));
        out += (char)(0x80 | (cp & 0x3f));
    }
}

bool EndsWith(const std::string &key, const char *suffix) {
    size_t n = strlen(suffix);
    return key.size() >= n && key.compare(key.size() - n, n, suffix) == 0;
}

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

bool Matches(const std::string &x, const std::string &name) {
    if (Glob(x.c_str(), name.c_str())) return true;
    if (x.find('/') == std::string::npos && Glob(x.c_str(), name.substr(name.rfind('/') + 1).c_str())) return true;
    return false;
}

}  // namespace

bool ValidUtf8(const std::string &s) {
    for (size_t i = 0; i < s.size();)
        if (Next(s, i) < 0) return false;
    return true;
}

std::string CaseKey(const std::string &name) {
    std::string out;
    for (size_t i = 0; i < name.size();) {
        size_t at = i;
        long cp = Next(name, i);
        if (cp < 0) {  // reported as not UTF-8; compared byte for byte
            out += name[at];
            i = at + 1;
            continue;
        }
        auto hit = std::lower_bound(std::begin(Upcase), std::end(Upcase), cp,
                                    [](const uint16_t *pair, long c) { return pair[0] < c; });
        Put(out, hit != std::end(Upcase) && (*hit)[0] == cp ? (*hit)[1] : (uint32_t)cp);
    }
    return out;
}

bool CheckName(const std::string &name) {
    bool ok = true;
    auto bad = [&](const std::string &why) {
        Problem(name, why);
        ok = false;
    };
    if (!ValidUtf8(name)) bad("the name is not valid UTF-8");
    if (name.size() > MaxName)
        bad("the name has " + std::to_string(name.size()) + " bytes; launchers skip names over " +
            std::to_string(MaxName));
    // The launcher's own rule, so that nothing published is skipped by it.
    switch (NameFaultOf(name.c_str())) {
    case NameParent: bad("the launcher skips names containing \"..\""); break;
    case NameDrive: bad("the launcher skips names containing \":\""); break;
    case NameDevice: bad("a part of the name is a Windows device name, which the launcher skips"); break;
    case NameRooted:
    case NameEmpty: bad("the launcher skips this name"); break;
    }
    std::string key = CaseKey(name);
    if (EndsWith(key, ".NOVO")) bad("names ending in \".novo\" collide with the launcher's temporary downloads");
    if (EndsWith(key, ".RETOMAR"))
        bad("names ending in \".retomar\" collide with the launcher's records of partial downloads");
    if (EndsWith(key, ".LISTA-TMP") || EndsWith(key, ".LISTA-OLD"))
        bad("names ending in \".lista-tmp\" or \".lista-old\" are lista's own names for files it is placing");
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

bool AddExclude(const std::string &pattern) {
    std::string x = pattern;
    std::replace(x.begin(), x.end(), '\\', '/');  // names with a backslash are refused anyway
    std::string out;
    for (char c : x)
        if (!(c == '/' && !out.empty() && out.back() == '/')) out += c;
    while (out.compare(0, 2, "./") == 0) out.erase(0, 2);
    while (!out.empty() && out.back() == '/') out.pop_back();
    if (out.empty() || out == "." || out[0] == '/' || out.find("..") != std::string::npos ||
        out.find("/./") != std::string::npos) {
        fprintf(stderr, "lista: -x %s: a pattern is a path inside the client folder, such as Data/logs or *.log\n",
                pattern.c_str());
        return false;
    }
    Excludes.push_back({out});
    return true;
}

bool Excluded(const std::string &name) {
    for (Exclude &x : Excludes)
        if (Matches(x.pattern, name)) {
            x.used = true;
            return true;
        }
    return false;
}

bool ExcludesAllUsed() {
    bool ok = true;
    for (const Exclude &x : Excludes)
        if (!x.used) {
            Problem("-x " + x.pattern, "matches nothing in the client folder (a typing error would publish what it "
                                       "was meant to leave out)");
            ok = false;
        }
    return ok;
}
