// Feeds arbitrary bytes to the configuration reader. Whatever it reads must write back
// in a form that reads again to the same file.
#include "files/config.h"
#include "files/settings.h"
#include "files/stream.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::vector<std::string> skins(const std::string &bike) {
    return {"default", bike + "-red"};
}

void prepare() {
    static const char *const kBikes[] = {"450sxf(2013)", "crf450(2013)", "crf250(2008)", "cr125"};
    settings_set_bike_models(kBikes, 4);
    settings_set_bike_skin_source(skins);
    choice_set_texts(settings().setup.rider_texture, {"default", "rider_body-black"});
    const VideoMode modes[] = {{1920, 1080, 32}, {800, 600, 32}};
    video_modes_build(modes, 2);
    settings_set_track_list({"rabbithill", "dunes"}, {"Rabbit Hill", "Dunes"});
}

std::string read_and_write(const void *data, std::size_t size) {
    settings_reset();
    Stream *s = stream_open_memory(data, size, false);
    if (!s) std::abort();
    config_read_stream(s);
    stream_free(s);
    return config_text();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    static bool ready = (prepare(), true);
    (void)ready;
    std::string first = read_and_write(data, size);
    // The first write may still differ (unbound controls fall back to their defaults,
    // overlong names are cut); from then on the file must be stable.
    std::string second = read_and_write(first.data(), first.size());
    std::string third = read_and_write(second.data(), second.size());
    if (second != third) std::abort();
    return 0;
}
