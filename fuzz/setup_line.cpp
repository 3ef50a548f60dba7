// Feeds arbitrary bytes to the setup reader line by line, as a setup file is read, and
// to the binding parser. The setup written afterwards must read back unchanged.
#include "files/config.h"
#include "files/settings.h"
#include "files/setup.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<std::string> skins(const std::string &bike) {
    return {"default", bike + "-red"};
}

void prepare() {
    static const char *const kBikes[] = {"450sxf(2013)", "crf250(2008)", "cr125"};
    settings_set_bike_models(kBikes, 3);
    settings_set_bike_skin_source(skins);
}

// Reads text as setup-file lines of at most 1023 characters.
void read_lines(const char *text, std::size_t size) {
    std::string key, value;
    std::size_t pos = 0;
    while (pos < size) {
        std::size_t end = pos;
        while (end < size && end - pos < 1023 && text[end] != '\n') end++;
        if (end < size && text[end] == '\n' && end - pos < 1023) end++;
        std::string line(text + pos, end - pos);
        pos = end;
        if (!config_split_line(line.c_str(), key, value)) continue;
        setup_read_line(key.c_str(), value.c_str());
        ControlBinding b;
        binding_parse(b, value.c_str());
        binding_text(b);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    static bool ready = (prepare(), true);
    (void)ready;
    settings_reset();
    read_lines(reinterpret_cast<const char *>(data), size);
    std::string first = setup_text();
    settings_reset();
    read_lines(first.data(), first.size());
    if (setup_text() != first) std::abort();
    return 0;
}
