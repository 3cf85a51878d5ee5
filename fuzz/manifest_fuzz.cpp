// ParseManifest and LocalPath under libFuzzer, AddressSanitizer and
// UndefinedBehaviorSanitizer: any document, checked against a plain
// re-reading of the manifest's rules written here with std::string_view, with
// a table whose size the input picks (a manifest with more acceptable lines is
// none), and each accepted name made into a path in a folder whose length the
// input picks, up to the path field's.
#include "check.h"
#include "update/manifest.h"

namespace {

const size_t ListCap = 65536;  // the fuzzer's inputs are shorter; the run's buffer is larger
const int PathLen = 260;

struct Want {
    std::string_view name, md5;  // into the document: the parser changes only line feeds and bars
    unsigned size;
};

bool Device(std::string_view part) {
    part = part.substr(0, part.find('.'));
    while (!part.empty() && part.back() == ' ') part.remove_suffix(1);
    if (part.size() > 7) return false;
    char low[8] = {};
    for (size_t i = 0; i < part.size(); i++)
        low[i] = part[i] >= 'A' && part[i] <= 'Z' ? (char)(part[i] - 'A' + 'a') : part[i];
    std::string_view p(low, part.size());
    for (const char *d : {"con", "prn", "aux", "nul", "conin$", "conout$"})
        if (p == d) return true;
    if (p.size() < 4 || (p.substr(0, 3) != "com" && p.substr(0, 3) != "lpt")) return false;
    std::string_view tail = p.substr(3);
    return (tail.size() == 1 && tail[0] >= '0' && tail[0] <= '9') || tail == "\xC2\xB9" ||
           tail == "\xC2\xB2" || tail == "\xC2\xB3";
}

bool Unsafe(std::string_view name) {
    if (name.empty() || name.find("..") != name.npos || name[0] == '/' || name[0] == '\\' ||
        name.find(':') != name.npos)
        return true;
    for (size_t at = 0;;) {
        size_t end = name.find_first_of("/\\", at);
        if (Device(name.substr(at, end == name.npos ? name.npos : end - at))) return true;
        if (end == name.npos) return false;
        at = end + 1;
    }
}

int Expect(const char *doc, Want *out) {
    int n = 0;
    Lines(Text(doc), [&](std::string_view line) {
        if (n == EntryMax) return false;  // more than any table; the caller's cap is far lower
        size_t bar = line.find('|');
        if (bar == line.npos || bar >= EntryNameLen) return true;
        size_t bar2 = line.find('|', bar + 1);
        if (bar2 == line.npos || bar2 - bar != Md5Len) return true;
        if (Unsafe(line.substr(0, bar))) return true;
        bool neg;
        long long v = Number(line.substr(bar2 + 1), LLONG_MIN, 0xFFFFFFFFLL, &neg);
        out[n++] = {line.substr(0, bar), line.substr(bar + 1, Md5Len - 1), neg || v < 0 ? 0u : (unsigned)v};
        return true;
    });
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    char *doc = Document(data, size, ListCap);
    static Want want[EntryMax];
    int wantN = Expect(doc, want);

    // The table on the heap at its exact size: a write past it is caught.
    // Records the parser must fill start out as garbage.
    int cap = 1 + (int)(size % 301);
    ManifestEntry *e = (ManifestEntry *)malloc(sizeof(ManifestEntry) * (size_t)cap);
    memset(e, 0xAB, sizeof(ManifestEntry) * (size_t)cap);
    int n = ParseManifest(doc, e, cap);

    CHECK(n == (wantN > cap ? -1 : wantN));
    if (n < 0) n = cap;
    wchar_t *out = (wchar_t *)malloc(sizeof(wchar_t) * PathLen);
    static wchar_t dir[PathLen], name[PathLen], path[2 * PathLen];
    for (int i = 0; i < n; i++) {
        CHECK(memchr(e[i].name, 0, EntryNameLen) != nullptr);
        CHECK(memchr(e[i].md5, 0, Md5Len) != nullptr);
        CHECK(e[i].name == want[i].name);
        CHECK(e[i].md5 == want[i].md5);
        CHECK(e[i].size == want[i].size);

        // The local path in a folder whose length the input picks: "C:\ddd...".
        char slashed[EntryNameLen];
        memcpy(slashed, want[i].name.data(), want[i].name.size());
        slashed[want[i].name.size()] = 0;
        for (char *c = slashed; *c; c++)
            if (*c == '/') *c = '\\';
        size_t d = 3 + (size + (size_t)i * 7) % 257;  // up to 259 units and the NUL
        wcscpy(dir, L"C:\\");
        wmemset(dir + 3, L'd', d - 3);
        dir[d] = 0;
        std::wstring_view conv = Converted(slashed, EntryNameLen, name);
        size_t len = d + 1 + conv.size();
        wcscpy(path, dir);
        path[d] = L'\\';
        wcscpy(path + d + 1, name);

        int got = LocalPath(dir, e[i].name, out, PathLen);
        CHECK(!strcmp(e[i].name, slashed));
        if (got) {
            CHECK(len < (size_t)PathLen);
            CHECK((size_t)got == len);
            CHECK(Field(out, PathLen) == std::wstring_view(path, len));
        } else {
            CHECK(out[0] == 0);
            CHECK(len >= (size_t)PathLen || conv.empty());
        }
    }
    free(out);
    free(e);
    free(doc);
    return 0;
}
