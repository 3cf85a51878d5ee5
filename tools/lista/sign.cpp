#include "sign.h"

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

int KeyGen(const std::vector<std::string> &args) {
    if (args.size() != 1 || args[0].empty() || args[0][0] == '-') {
        fprintf(stderr, "lista: usage: lista keygen KEYFILE\n");
        return 2;
    }
    fs::path path = fs::u8path(args[0]);
    std::error_code ec;
    if (fs::exists(fs::symlink_status(path, ec))) {
        fprintf(stderr, "lista: %s: exists already; it is never overwritten\n", args[0].c_str());
        return 1;
    }
    EcKey k;
    std::string id;
    if (!NewKey(k) || !KeyId(k.xy, id)) return 2;
    std::string text = "velmora-private-key 1\nkey " + id + "\npublic " + Hex(k.xy) + "\nprivate " + Hex(k.d) + "\n";
    if (!WritePrivate(path, text)) return fs::exists(fs::symlink_status(path, ec)) ? 1 : 2;
    printf("velmora-key 1 %s %s\n", id.c_str(), Hex(k.xy).c_str());
    fprintf(stderr,
            "lista: private key %s written. Keep it off the web server and out of the client folder;\n"
            "lista: build the launcher with the line above in its VELMORA_KEYS file.\n",
            args[0].c_str());
    return 0;
}

bool LoadSigner(const fs::path &keyfile, const std::vector<fs::path> &published, Signer &s) {
    std::error_code ec;
    fs::path key = fs::weakly_canonical(keyfile, ec);
    for (const fs::path &folder : published) {
        fs::path top = fs::weakly_canonical(folder, ec);
        auto rel = key.lexically_relative(top);
        if (!top.empty() && !rel.empty() && *rel.begin() != "..") {
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
    s.id = id;
    return true;
}

bool ChooseSerial(Signer &s, const fs::path &site) {
    fs::path path = site / "update" / "lista.txt.sig";
    std::string text, value;
    unsigned long long current = 0;
    std::error_code ec;
    if (fs::exists(path, ec)) {
        std::vector<std::string> lines;
        if (ReadFile(path, text)) lines = Lines(text);
        if (lines.size() < 3 || lines[0] != "velmora-sig 1" || !Field(lines, 2, "serial", value) ||
            !Serial(value, current)) {
            fprintf(stderr, "lista: warning: %s is not a signature file; its serial is not known\n",
                    Shown(path).c_str());
            current = 0;
        }
    }
    s.current = current;
    if (!s.serialGiven) {
        if (current >= 9999999999999999999ULL) {
            fprintf(stderr, "lista: the site's serial %llu is the highest there is\n", current);
            return false;
        }
        // Seconds since 1970: later releases get higher serials on their own;
        // two releases within a second, or a clock behind, still count up.
        unsigned long long now = (unsigned long long)time(nullptr);
        s.serial = now > current ? now : current + 1;
        return true;
    }
    if (s.serial < current && !s.force) {
        fprintf(stderr,
                "lista: serial %llu is lower than the site's current %llu: launchers that have that release\n"
                "lista: would refuse this one (use --force to publish it for new players anyway)\n",
                s.serial, current);
        return false;
    }
    return true;
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
