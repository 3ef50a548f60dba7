#include "sim/parts.h"

#include <cstdio>
#include <cstring>

#include "platform/log.h"
#include "sim/bike.h"

namespace {

BikePartHooks &hooks() {
    static BikePartHooks h;
    return h;
}

int texture_lookup(const char *name) {
    if (!name || !*name || !hooks().texture_lookup) return 0;
    return hooks().texture_lookup(name);
}

void *model_load(const std::string &path) {
    if (path.empty() || !hooks().model_load) return nullptr;
    return hooks().model_load(path.c_str());
}

// Reads "%f,%f,%f" after tag in text into rgb (0..1 clamped, times 255).
void read_colour(const char *text, const char *tag, unsigned char rgb[3]) {
    const char *p = std::strstr(text, tag);
    if (!p) return;
    float c[3];
    if (std::sscanf(p + std::strlen(tag), "%f,%f,%f", &c[0], &c[1], &c[2]) != 3) return;
    for (int i = 0; i < 3; ++i) {
        float v = c[i] == c[i] ? c[i] : 0; // NaN counts as 0
        v = v < 0 ? 0 : v > 1 ? 1 : v;
        rgb[i] = (unsigned char)(v * 255);
    }
}

// One group of parts sharing a skin; each entry loads a model with the group's texture.
struct GroupPart {
    BikeVisualModel slot;
    BikePartFile file;
    bool never_warns;
};

// Loads the group with texture_name; returns whether the key part loaded.
bool load_group(Bike *bike, const GroupPart *parts, int count, const char *texture_name, bool warn,
                bool all_key) {
    bool ok = true;
    for (int i = 0; i < count; ++i) {
        const GroupPart &p = parts[i];
        void *m = skinned_model_load(bike->model.part_files[p.file], texture_name,
                                     warn && !p.never_warns);
        bike->visuals.models[p.slot] = m;
        if (!m && (i == 0 || all_key)) ok = false;
    }
    return ok;
}

// Loads a skin and its group; falls back to the default skin (with warnings) when the
// skin or the group's key part failed.
void load_skinned_group(Bike *bike, BikeTexture texture, BikePartFile default_texture,
                        const char *name, const GroupPart *parts, int count, bool all_key) {
    int tex = texture_lookup(name);
    bool ok = load_group(bike, parts, count, name, false, all_key);
    if (!tex || !ok) {
        const char *def = bike->model.part_files[default_texture];
        tex = texture_lookup(def);
        load_group(bike, parts, count, def, true, all_key);
    }
    bike->visuals.textures[texture] = tex;
}

} // namespace

void bike_part_hooks_install(const BikePartHooks &h) {
    hooks() = h;
}

const BikePartHooks &bike_part_hooks() {
    return hooks();
}

bool texture_name_safe(const char *name) {
    if (!name) return true;
    std::size_t n = std::strlen(name);
    if (n > 255) return false;
    if (name[0] == '/' || std::strstr(name, "..") || std::strchr(name, '\\')) return false;
    if (name[0] == '@' && name[1] == '/') return false;
    for (std::size_t i = 0; i < n; ++i)
        if ((unsigned char)name[i] < 32) return false;
    return true;
}

std::string model_variant_path(const char *model_path, const char *texture_name) {
    if (!model_path || !texture_name) return {};
    const char *file = std::strrchr(texture_name, '/');
    file = file ? file + 1 : texture_name;
    const char *d1 = std::strchr(file, '-');
    const char *d2 = d1 ? std::strchr(d1 + 1, '-') : nullptr;
    if (!d2) return {};
    const char *dot = std::strrchr(model_path, '.');
    if (!dot || std::strchr(dot, '/')) return {};
    std::string v(model_path, std::size_t(dot - model_path));
    v.append(d1, std::size_t(d2 - d1));
    v += ".zm";
    return v;
}

void *skinned_model_load(const char *model_path, const char *texture_name, bool warn) {
    if (!model_path) return nullptr;
    std::string variant =
        texture_name && *texture_name ? model_variant_path(model_path, texture_name) : "";
    if (variant.empty()) {
        void *m = model_load(model_path);
        if (!m && warn) log_printf("Warning: Can't load %.900s\n", model_path);
        return m;
    }
    if (void *m = model_load(variant)) return m;
    const char *slash = std::strrchr(texture_name, '/');
    if (slash) {
        const char *vfile = std::strrchr(variant.c_str(), '/');
        vfile = vfile ? vfile + 1 : variant.c_str() + (variant[0] == '@' ? 1 : 0);
        std::string in_folder(texture_name, std::size_t(slash - texture_name + 1));
        in_folder += vfile;
        if (void *m = model_load(in_folder)) return m;
        if (warn)
            log_printf("Warning: Can't load %.450s or %.450s\n", variant.c_str(),
                       in_folder.c_str());
        return nullptr;
    }
    if (warn) log_printf("Warning: Can't load %.900s\n", variant.c_str());
    return nullptr;
}

void number_plate_colours(const char *text, unsigned char background[3],
                          unsigned char foreground[3]) {
    for (int i = 0; i < 3; ++i) {
        background[i] = 255;
        foreground[i] = 0;
    }
    if (!text) return;
    read_colour(text, "[numberbackground:", background);
    read_colour(text, "[numberforeground:", foreground);
}

void bike_parts_load(Bike *bike, const char *rider_texture, const char *head_texture,
                     const char *bike_texture, const char *wheel_texture) {
    if (!bike) return;
    // Without a model cache there is nothing to draw with: leave the parts empty.
    if (hooks().model_load) {
        static const GroupPart kBikeParts[] = {{kModelFrame, kPartFrameModel, false},
                                               {kModelSidePlates, kPartSidePlatesModel, false},
                                               {kModelForkUpper, kPartForkUpperModel, false},
                                               {kModelFrontPlate, kPartFrontPlateModel, false},
                                               {kModelForkLower, kPartForkLowerModel, false},
                                               {kModelSwingarm, kPartSwingarmModel, false}};
        static const GroupPart kWheelParts[] = {{kModelFrontWheel, kPartFrontWheelModel, false},
                                                {kModelRearWheel, kPartRearWheelModel, false}};
        static const GroupPart kBodyParts[] = {
            {kModelBody, kPartBodyModel, false},
            {kModelBodyFirstPerson, kPartBodyFirstPersonModel, true},
            {kModelRiderPlate, kPartRiderPlateModel, true}};
        static const GroupPart kHeadParts[] = {{kModelHead, kPartHeadModel, false}};
        load_skinned_group(bike, kTextureBike, kPartBikeTexture, bike_texture, kBikeParts, 6,
                           false);
        load_skinned_group(bike, kTextureWheel, kPartWheelTexture, wheel_texture, kWheelParts, 2,
                           true);
        load_skinned_group(bike, kTextureBody, kPartBodyTexture, rider_texture, kBodyParts, 3,
                           false);
        load_skinned_group(bike, kTextureHead, kPartHeadTexture, head_texture, kHeadParts, 1,
                           false);
    }
    const char *text = hooks().texture_text && bike->visuals.textures[kTextureBike]
                           ? hooks().texture_text(bike->visuals.textures[kTextureBike])
                           : nullptr;
    number_plate_colours(text, bike->visuals.number_background, bike->visuals.number_foreground);
    if (hooks().number_plate_create)
        bike->visuals.number_texture = hooks().number_plate_create(
            bike->number_text, bike->visuals.number_background, bike->visuals.number_foreground);
}
