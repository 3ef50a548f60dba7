// Fuzzes the "timing_gates" reader. An accepted file must survive a round trip through the
// writer: what was written reads back accepted, with the same counts and lap lists.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "files/stream.h"
#include "track/gates.h"

namespace {

std::string written(const GateData &d) {
    std::FILE *f = std::tmpfile();
    if (!f) return {};
    Stream *s = stream_open_file(f, 0, kStreamNoLimit, false);
    if (!s) return {};
    std::string text;
    if (gates_write(s, d)) {
        stream_flush(s);
        std::rewind(f);
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    }
    stream_free(s);
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    GateData d;
    bool accepted = gates_parse(reinterpret_cast<const char *>(data), size, d);
    if (d.starts.size() >= std::size_t(kMaxStartPositions) ||
        d.checkpoints.size() > std::size_t(kMaxCheckpoints) ||
        d.first_lap.size() > std::size_t(kMaxLapEntries) ||
        d.normal_lap.size() > std::size_t(kMaxLapEntries))
        __builtin_trap();
    if (!accepted) return 0;
    for (int s = 0; s < 600; s++) {
        int c = gate_checkpoint(d, s);
        if (c < 0 || c >= int(d.checkpoints.size())) __builtin_trap();
    }
    std::string text = written(d);
    GateData back;
    if (!gates_parse(text.data(), text.size(), back) || back.starts.size() != d.starts.size() ||
        back.checkpoints.size() != d.checkpoints.size() || back.first_lap != d.first_lap ||
        back.normal_lap != d.normal_lap)
        __builtin_trap();
    return 0;
}
