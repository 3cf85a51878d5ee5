#include "gzip.h"

#include <zlib.h>

std::string Gzip(const std::string &text) {
    z_stream z = {};
    // 15 window bits, and 16 for the gzip wrapper.
    if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY) != Z_OK) return "";
    std::string out(deflateBound(&z, text.size()), '\0');
    z.next_in = (Bytef *)text.data();
    z.avail_in = (uInt)text.size();
    z.next_out = (Bytef *)&out[0];
    z.avail_out = (uInt)out.size();
    int r = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return r == Z_STREAM_END ? out : "";
}
