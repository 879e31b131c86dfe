// The line reader gives the same lines and the same overflow however the stream is cut.

#include "protocol/Rpc.h"

#include <cstdint>
#include <cstdlib>

namespace {

struct Outcome {
    std::vector<QByteArray> lines;
    bool overflowed = false;
};

// Feeds the bytes in pieces whose sizes come from the cuts; stops at the first overflow.
Outcome read(const QByteArray& stream, qsizetype limit, const uint8_t* cuts, size_t cutCount) {
    protocol::LineReader reader(limit);
    Outcome out;
    qsizetype at = 0;
    size_t next = 0;
    while (at < stream.size() && !out.overflowed) {
        const qsizetype piece = cutCount ? 1 + cuts[next++ % cutCount] : stream.size();
        reader.append(stream.mid(at, piece));
        at += piece;
        for (;;) {
            if (reader.overflowed()) {
                out.overflowed = true;
                break;
            }
            auto line = reader.takeLine();
            if (!line) break;
            out.lines.push_back(*line);
        }
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const qsizetype limit = 1 + data[0];
    const size_t cutCount = data[1] % 16;
    if (size < 2 + cutCount) return 0;
    const uint8_t* cuts = data + 2;
    const QByteArray stream(reinterpret_cast<const char*>(data + 2 + cutCount),
                            qsizetype(size - 2 - cutCount));
    const Outcome whole = read(stream, limit, nullptr, 0);
    const Outcome pieces = read(stream, limit, cuts, cutCount);
    // Lines before an overflow are the same; an overflow is seen either way.
    if (whole.overflowed != pieces.overflowed) std::abort();
    const size_t common = std::min(whole.lines.size(), pieces.lines.size());
    for (size_t i = 0; i < common; ++i)
        if (whole.lines[i] != pieces.lines[i]) std::abort();
    if (!whole.overflowed && whole.lines.size() != pieces.lines.size()) std::abort();
    for (const QByteArray& line : whole.lines)
        if (line.contains('\n') || line.size() > limit) std::abort();
    return 0;
}
