// ParseFeed under libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer:
// any document of up to 8191 bytes, checked against a plain re-reading of the
// feed's rules written here with std::string_view.
#include "check.h"
#include "net/feed.h"

namespace {

const size_t FeedCap = 8192;  // the network thread's buffer

struct Want {
    int up = 0, online = -1;
    wchar_t name[260] = L"antes";
    wchar_t title[FeedNewsMax][260], body[FeedNewsMax][260];
    int newsN = 0;
};

void Expect(const char *doc, Want &w) {
    bool neg;
    Lines(Text(doc), [&](std::string_view line) {
        // One CR right before a line feed ends the line; doc is NUL-terminated,
        // so the byte after a line is its line feed or the end.
        if (line.data()[line.size()] == '\n' && !line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        auto key = [&](std::string_view k) { return line.substr(0, k.size()) == k; };
        if (key("status=")) {
            w.up = (int)Number(line.substr(7), INT_MIN, INT_MAX, &neg);
        } else if (key("online=")) {
            w.online = (int)Number(line.substr(7), INT_MIN, INT_MAX, &neg);
        } else if (key("servidor=")) {
            Converted(line.substr(9), FeedNameLen, w.name);
        } else if (key("noticia=") && w.newsN < FeedNewsMax) {
            std::string_view v = line.substr(8);
            size_t bar = v.find('|');
            Converted(v.substr(0, bar), FeedTextLen, w.title[w.newsN]);
            w.body[w.newsN][0] = 0;
            if (bar != v.npos) Converted(v.substr(bar + 1), FeedTextLen, w.body[w.newsN]);
            w.newsN++;
        }
        return true;
    });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    char *doc = Document(data, size, FeedCap);
    static Want want;
    want = Want();
    Expect(doc, want);

    // On the heap, its own size exactly: a write past the struct is caught.
    Feed *f = (Feed *)malloc(sizeof(Feed));
    memset(f, 0xAB, sizeof(Feed));  // what the parser must not leave in place
    f->online = -1;
    wcscpy(f->name, L"antes");
    ParseFeed(doc, f);

    CHECK(f->up == want.up);
    CHECK(f->online == want.online);
    CHECK(Field(f->name, FeedNameLen) == want.name);
    CHECK(f->newsN == want.newsN);
    for (int i = 0; i < f->newsN; i++) {
        CHECK(Field(f->news[i].title, FeedTextLen) == want.title[i]);
        CHECK(Field(f->news[i].body, FeedTextLen) == want.body[i]);
    }
    free(f);
    free(doc);
    return 0;
}
