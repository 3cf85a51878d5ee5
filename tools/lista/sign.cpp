#include "sign.h"

#include "files.h"
#include "limits.h"
#include "report.h"
#include "walk.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <sstream>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

std::string Hex(const std::string &bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

namespace {

// Lowercase hex of exactly n bytes.
bool Unhex(const std::string &hex, size_t n, std::string &out) {
    if (hex.size() != 2 * n) return false;
    out.clear();
    for (size_t i = 0; i < hex.size(); i += 2) {
        int v = 0;
        for (int k = 0; k < 2; k++) {
            char c = hex[i + k];
            int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
            if (d < 0) return false;
            v = v * 16 + d;
        }
        out += (char)v;
    }
    return true;
}

bool KeyId(const std::string &xy, std::string &id) {
    std::string digest;
    if (!Sha256(Hex(xy), digest)) return false;
    id = Hex(digest).substr(0, 16);
    return true;
}

std::string Shown(const fs::path &p) {
    auto u = p.u8string();
    return std::string(u.begin(), u.end());
}

// Creates path, which must not exist, readable and writable by its owner only,
// and writes text into it. False after a message; a half-written file goes.
bool WritePrivate(const fs::path &path, const std::string &text) {
#ifdef _WIN32
    // One entry, full access for the user running lista, nothing inherited
    // from the folder.
    HANDLE token = nullptr;
    union {
        TOKEN_USER user;
        char space[256];
    } who;
    DWORD len = 0;
    char aclSpace[256];
    PACL acl = (PACL)aclSpace;
    SECURITY_DESCRIPTOR sd;
    bool ok = OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) &&
              GetTokenInformation(token, TokenUser, &who, sizeof who, &len) &&
              InitializeAcl(acl, sizeof aclSpace, ACL_REVISION) &&
              AddAccessAllowedAce(acl, ACL_REVISION, FILE_GENERIC_READ | FILE_GENERIC_WRITE | DELETE,
                                  who.user.User.Sid) &&
              InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION) &&
              SetSecurityDescriptorDacl(&sd, TRUE, acl, FALSE) &&
              SetSecurityDescriptorControl(&sd, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    if (token) CloseHandle(token);
    if (!ok) {
        fprintf(stderr, "lista: cannot make an owner-only file (error %lu)\n", GetLastError());
        return false;
    }
    SECURITY_ATTRIBUTES sa = {sizeof sa, &sd, FALSE};
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, &sa, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) {
        DWORD e = GetLastError();
        fprintf(stderr, "lista: %s: %s\n", Shown(path).c_str(),
                e == ERROR_FILE_EXISTS || e == ERROR_ALREADY_EXISTS ? "exists already; it is never overwritten"
                                                                    : "cannot be created");
        return false;
    }
    DWORD wrote = 0;
    ok = WriteFile(f, text.data(), (DWORD)text.size(), &wrote, nullptr) && wrote == text.size();
    ok = CloseHandle(f) && ok;
#else
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        fprintf(stderr, "lista: %s: %s\n", Shown(path).c_str(),
                errno == EEXIST ? "exists already; it is never overwritten" : "cannot be created");
        return false;
    }
    bool ok = fchmod(fd, 0600) == 0;  // whatever the umask
    for (size_t at = 0; ok && at < text.size();) {
        ssize_t n = write(fd, text.data() + at, text.size() - at);
        ok = n > 0;
        at += ok ? (size_t)n : 0;
    }
    ok = fsync(fd) == 0 && ok;
    ok = close(fd) == 0 && ok;
#endif
    if (!ok) {
        fprintf(stderr, "lista: cannot write %s\n", Shown(path).c_str());
        std::error_code ec;
        fs::remove(path, ec);
    }
    return ok;
}

bool ReadFile(const fs::path &path, std::string &text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream s;
    s << in.rdbuf();
    text = s.str();
    return !in.bad();
}

// The value of "name value" on line i of text's LF-terminated lines.
bool Field(const std::vector<std::string> &lines, size_t i, const std::string &name, std::string &value) {
    if (i >= lines.size() || lines[i].compare(0, name.size() + 1, name + " ") != 0) return false;
    value = lines[i].substr(name.size() + 1);
    return true;
}

std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> out;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        out.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return out;
}

bool Serial(const std::string &s, unsigned long long &v) {
    if (s.empty() || s.size() > 19 || (s[0] == '0' && s.size() > 1)) return false;
    v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (unsigned)(c - '0');
    }
    return true;
}

}  // namespace

// Makes the missing folders above path, owner-only where the system has
// access bits: an operator's first key often goes into a folder of its own.
bool MakeKeyFolder(const fs::path &path) {
    fs::path dir = path.parent_path();
    std::error_code ec;
    if (dir.empty() || fs::exists(dir, ec)) return true;
    std::vector<fs::path> missing;
    for (fs::path p = dir; !p.empty() && !fs::exists(p, ec); p = p.parent_path()) {
        missing.push_back(p);
        if (p.parent_path() == p) break;
    }
    for (auto p = missing.rbegin(); p != missing.rend(); ++p) {
        if (!fs::create_directory(*p, ec) && ec) {
            fprintf(stderr, "lista: cannot create the folder %s: %s\n", Shown(*p).c_str(), Reason(ec).c_str());
            return false;
        }
        fs::permissions(*p, fs::perms::owner_all, ec);
    }
    return true;
}

int KeyGen(const std::vector<std::string> &args) {
    if (args.size() != 1 || args[0].empty() || args[0][0] == '-') {
        fprintf(stderr, "lista: usage: lista keygen KEYFILE\n");
        return ExitIo;
    }
    fs::path path = fs::u8path(args[0]);
    std::error_code ec;
    if (fs::exists(fs::symlink_status(path, ec))) {
        fprintf(stderr, "lista: %s: exists already; it is never overwritten\n", args[0].c_str());
        return ExitRefused;
    }
    EcKey k;
    std::string id;
    if (!MakeKeyFolder(path) || !NewKey(k) || !KeyId(k.xy, id)) return ExitIo;
    std::string text = "velmora-private-key 1\nkey " + id + "\npublic " + Hex(k.xy) + "\nprivate " + Hex(k.d) + "\n";
    if (!WritePrivate(path, text)) return fs::exists(fs::symlink_status(path, ec)) ? ExitRefused : ExitIo;
    // The public line is the other half of the pair: a key whose line was
    // lost (a full disk, a closed output) would be found only at the build.
    printf("velmora-key 1 %s %s\n", id.c_str(), Hex(k.xy).c_str());
    if (fflush(stdout) != 0 || ferror(stdout)) {
        int err = errno;
        fs::remove(path, ec);
        fprintf(stderr, "lista: cannot write the public key line: %s; %s not kept\n", Reason(err).c_str(),
                args[0].c_str());
        return ExitIo;
    }
    fprintf(stderr,
            "lista: private key %s written. Keep it off the web server and out of the client folder;\n"
            "lista: build the launcher with the line above in its VELMORA_KEYS file.\n",
            args[0].c_str());
    return ExitDone;
}

bool LoadSigner(const fs::path &keyfile, const std::vector<fs::path> &published, Signer &s) {
    std::error_code ec;
    for (const fs::path &folder : published) {
        if (!folder.empty() && fs::exists(folder, ec) && Inside(keyfile, folder)) {
            fprintf(stderr, "lista: the key file %s lies in %s, which gets published; keep it elsewhere\n",
                    Shown(keyfile).c_str(), Shown(folder).c_str());
            return false;
        }
    }
    std::string text, id, pub, priv;
    if (!ReadFile(keyfile, text)) {
        fprintf(stderr, "lista: cannot read the key file %s\n", Shown(keyfile).c_str());
        return false;
    }
    std::vector<std::string> lines = Lines(text);
    if (lines.size() != 4 || lines[0] != "velmora-private-key 1" || !Field(lines, 1, "key", id) ||
        !Field(lines, 2, "public", pub) || !Field(lines, 3, "private", priv) || !Unhex(pub, 64, s.key.xy) ||
        !Unhex(priv, 32, s.key.d) || text.back() != '\n') {
        fprintf(stderr, "lista: %s is not a private key file of 'lista keygen'\n", Shown(keyfile).c_str());
        return false;
    }
    std::string want, digest, rs;
    if (!KeyId(s.key.xy, want)) return false;
    // A damaged file must not sign what no launcher will accept.
    if (id != want || !Sha256("velmora", digest) || !SignDigest(s.key, digest, rs) ||
        !VerifyDigest(s.key, digest, rs)) {
        fprintf(stderr, "lista: the key file %s is damaged (its parts do not belong together)\n",
                Shown(keyfile).c_str());
        return false;
    }
    if (OthersCanRead(keyfile))
        fprintf(stderr, "lista: warning: the key file %s can be read by other users; make it yours alone "
                        "(chmod 600)\n", Shown(keyfile).c_str());
    s.id = id;
    return true;
}

bool ChooseSerial(Signer &s, const fs::path &site) {
    fs::path path = site / "update" / "lista.txt.sig";
    std::error_code ec;
    SigFile sig;
    if (fs::exists(path, ec)) {
        if (!ReadFile(path, s.currentText) || !ParseSig(s.currentText, sig)) {
            fprintf(stderr, "lista: warning: %s is not a signature file; its serial and key are not known\n",
                    Shown(path).c_str());
            sig = SigFile();
        }
    }
    s.current = sig.serial;
    s.currentKey = sig.id;
    // Launchers built with the site's key refuse a release signed with any
    // other: moving to a new key is a plan, never an accident.
    if (!s.currentKey.empty() && s.currentKey != s.id && !s.rotate) {
        fprintf(stderr,
                "lista: the site is signed with key %s, and this key is %s. Launchers that know only %s\n"
                "lista: refuse this release. Before moving to the new key, ship a launcher built with both\n"
                "lista: key lines in its VELMORA_KEYS (as a release signed with %s) and wait until your\n"
                "lista: players have it; then sign with the new key and add --rotate.\n",
                s.currentKey.c_str(), s.id.c_str(), s.currentKey.c_str(), s.currentKey.c_str());
        return false;
    }
    if (!s.serialGiven) {
        if (s.current >= MaxSerial) {
            fprintf(stderr, "lista: the site's serial %llu is the highest there is\n", s.current);
            return false;
        }
        // Seconds since 1970: later releases get higher serials on their own;
        // two releases within a second, or a clock behind, still count up.
        unsigned long long now = (unsigned long long)time(nullptr);
        s.serial = now > s.current ? now : s.current + 1;
        return true;
    }
    if (s.serial > RoomySerial && !s.force) {
        fprintf(stderr,
                "lista: serial %llu leaves no room: every later release needs a higher one, and none can be\n"
                "lista: above %llu. Use a serial of up to 18 digits (or --force)\n",
                s.serial, MaxSerial);
        return false;
    }
    if (s.serial < s.current && !s.force) {
        fprintf(stderr,
                "lista: serial %llu is lower than the site's current %llu: launchers that have that release\n"
                "lista: would refuse this one (use --force to publish it for new players anyway)\n",
                s.serial, s.current);
        return false;
    }
    return true;
}

bool SignsAgain(const Signer &s, const std::string &manifest) {
    SigFile sig;
    return ParseSig(s.currentText, sig) && sig.id == s.id && SigHolds(sig, s.key, manifest);
}

bool SignManifest(const Signer &s, const std::string &manifest, std::string &text) {
    std::string header = "velmora-sig 1\nkey " + s.id + "\nserial " + std::to_string(s.serial) + "\n";
    std::string digest, rs;
    if (!Sha256(header + manifest, digest) || !SignDigest(s.key, digest, rs)) return false;
    if (!VerifyDigest(s.key, digest, rs)) {
        fprintf(stderr, "lista: the new signature does not verify; nothing signed\n");
        return false;
    }
    text = header + "sig " + Hex(rs) + "\n";
    return true;
}

bool ParseSig(const std::string &text, SigFile &sig) {
    std::vector<std::string> lines = Lines(text);
    std::string id, serial, rs;
    if (text.size() > MaxSignature || text.empty() || text.back() != '\n' || lines.size() != 4 ||
        lines[0] != "velmora-sig 1" || !Field(lines, 1, "key", id) || !Field(lines, 2, "serial", serial) ||
        !Field(lines, 3, "sig", rs) || !Unhex(id, 8, sig.rs) || !Serial(serial, sig.serial) ||
        !Unhex(rs, 64, sig.rs))
        return false;
    sig.id = id;
    sig.header = lines[0] + "\n" + lines[1] + "\n" + lines[2] + "\n";
    return true;
}

bool ReadKeyLines(const fs::path &path, std::vector<std::pair<std::string, EcKey>> &keys) {
    std::string text;
    if (!ReadFile(path, text)) {
        fprintf(stderr, "lista: cannot read the key lines %s\n", Shown(path).c_str());
        return false;
    }
    for (std::string line : Lines(text)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        std::string id, want;
        EcKey k;
        if (line.compare(0, 14, "velmora-key 1 ") != 0 || line.size() != 14 + 16 + 1 + 128 || line[30] != ' ' ||
            !Unhex(line.substr(31), 64, k.xy) || !KeyId(k.xy, want) || line.substr(14, 16) != want) {
            fprintf(stderr, "lista: %s: \"%s\" is not a key line of 'lista keygen'\n", Shown(path).c_str(),
                    Shown(line.substr(0, 40)).c_str());
            return false;
        }
        keys.emplace_back(want, k);
    }
    if (keys.empty()) fprintf(stderr, "lista: %s holds no key line\n", Shown(path).c_str());
    return !keys.empty();
}

bool SigHolds(const SigFile &sig, const EcKey &key, const std::string &manifest) {
    std::string digest;
    return Sha256(sig.header + manifest, digest) && VerifyDigest(key, digest, sig.rs);
}
