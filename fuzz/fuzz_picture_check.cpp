// The completeness check of pictures gives the same answer on bytes in memory and on the
// same bytes read from a file through a window (of a size drawn from the input, so that
// segments and markers fall across its edges), for the input and for cuts of it.
#include "FuzzSupport.h"

#include "net/URLSource2.h"

#include <QBuffer>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const qsizetype window = 16 + data[0] % 48;
    const QByteArray input(reinterpret_cast<const char *>(data) + 1, qsizetype(size) - 1);
    for (const qsizetype cut : {input.size(), input.size() - 1, input.size() / 2}) {
        if (cut < 0)
            continue;
        QByteArray bytes = input.left(cut);
        QBuffer file(&bytes);
        FUZZ_CHECK(file.open(QIODevice::ReadOnly));
        FUZZ_CHECK(IsPictureComplete(bytes.constData(), bytes.size()) == IsPictureComplete(file, window));
    }
    return 0;
}
