// The status feed ("%s/api/launcher"): UTF-8 lines of key=value. Plain C++ with
// no platform calls but Utf8To16, so that it also builds natively.
#pragma once

enum { FeedNameLen = 64, FeedTextLen = 128, FeedNewsMax = 4 };

struct FeedItem {
    wchar_t title[FeedTextLen];
    wchar_t body[FeedTextLen];
};

// What one feed says; a key missing from it leaves its field as it was.
struct Feed {
    int up;      // "status=": >0 up, 0 down, <0 not known
    int online;  // "online=": players online
    wchar_t name[FeedNameLen];     // "servidor=": the server's name
    FeedItem news[FeedNewsMax];    // "noticia=title|body", first four
    int newsN;
};

// Applies every line of text (NUL-terminated; each line feed becomes a NUL)
// to f. up and newsN start again from 0; online and name keep their values
// unless the feed has their keys. Numbers saturate at the int range, texts
// too long for their field are stored empty. A UTF-8 byte-order mark at the
// very start is passed over, and so is one CR right before each line feed.
void ParseFeed(char *text, Feed *f);
