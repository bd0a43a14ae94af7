// InflateBody on arbitrary bytes, and on the input wrapped in gzip and zlib streams,
// whole and cut short.
#include "FuzzSupport.h"

#include "net/URLSource2.h"

#include <zlib.h>

namespace {

// The data deflated with the given window bits (31: gzip, 15: zlib).
QByteArray Deflate(const QByteArray &data, int windowBits, int level)
{
    z_stream zs{};
    if (deflateInit2(&zs, level, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        std::abort();
    QByteArray out(qsizetype(deflateBound(&zs, uLong(data.size()))) + 32, Qt::Uninitialized);
    zs.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    zs.avail_in = uInt(data.size());
    zs.next_out = reinterpret_cast<Bytef *>(out.data());
    zs.avail_out = uInt(out.size());
    const int rc = deflate(&zs, Z_FINISH);
    FUZZ_CHECK(rc == Z_STREAM_END);
    out.truncate(qsizetype(zs.total_out));
    deflateEnd(&zs);
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));

    // Arbitrary bytes: no crash, and the output stays within deflate's largest ratio.
    QByteArray out;
    CUrlSession::InflateBody(input.constData(), input.size(), out);
    FUZZ_CHECK(out.size() <= 1032 * input.size() + 8192);

    // A real stream gives the input back; a stream cut short fails and keeps a head of it.
    for (const int windowBits : {31, 15}) {
        const QByteArray stream = Deflate(input, windowBits, size % 10);
        QByteArray whole;
        FUZZ_CHECK(CUrlSession::InflateBody(stream.constData(), stream.size(), whole));
        FUZZ_CHECK(whole == input);

        // A result above the limit fails and keeps exactly the limit's worth.
        const qsizetype limit = input.size() / 2;
        QByteArray capped;
        FUZZ_CHECK(CUrlSession::InflateBody(stream.constData(), stream.size(), capped, limit) == input.isEmpty());
        FUZZ_CHECK(capped == input.left(limit));

        const qsizetype cut = stream.size() / 2;
        QByteArray head;
        FUZZ_CHECK(!CUrlSession::InflateBody(stream.constData(), cut, head));
        FUZZ_CHECK(input.startsWith(head));
    }
    return 0;
}
