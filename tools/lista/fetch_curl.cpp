#include <curl/curl.h>

#include "fetch.h"

namespace {

struct Call {
    const std::function<bool(const char *, size_t)> *sink;
    bool stopped = false;
};

size_t Take(char *data, size_t size, size_t n, void *user) {
    Call *c = (Call *)user;
    if (!(*c->sink)(data, size * n)) {
        c->stopped = true;
        return 0;  // ends the transfer
    }
    return size * n;
}

}  // namespace

int Fetch(const std::string &url, const std::function<bool(const char *, size_t)> &sink, std::string &why) {
    static bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == 0;
    static CURL *curl = ready ? curl_easy_init() : nullptr;  // one handle: its connections are kept alive
    if (!curl) {
        why = "libcurl cannot start";
        return 0;
    }
    Call call{&sink};
    char error[CURL_ERROR_SIZE] = "";
    struct curl_slist *head = curl_slist_append(nullptr, "Cache-Control: no-cache");
    head = curl_slist_append(head, "Pragma: no-cache");
    curl_easy_reset(curl);
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, head);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "Zorun Classic Launcher");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, url.compare(0, 8, "https://") == 0 ? "https" : "http,https");
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 30L);
    // An answer that stalls for a minute is a failed fetch, as in the launcher.
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, 60L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Take);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &call);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, error);
    CURLcode rc = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_slist_free_all(head);
    if (rc != CURLE_OK && !(rc == CURLE_WRITE_ERROR && call.stopped)) {
        why = *error ? error : curl_easy_strerror(rc);
        return 0;
    }
    return (int)status;
}
