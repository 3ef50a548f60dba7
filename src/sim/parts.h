// Loading the drawn parts of a bike (models and skins) in their fixed order, and the
// number plate. The drawing layer supplies the caches through hooks; without them
// nothing is loaded and the bike simply has no drawn parts.
#pragma once
#include <string>

struct Bike;

struct BikePartHooks {
    // The texture of a virtual name (0 when it cannot be loaded).
    int (*texture_lookup)(const char *name) = nullptr;
    // A model through the model cache (null when it cannot be loaded).
    void *(*model_load)(const char *path) = nullptr;
    // The text attached to a texture's image (null for none).
    const char *(*texture_text)(int texture) = nullptr;
    // Draws text into a new 128 x 128 plate texture with the given RGB colours.
    int (*number_plate_create)(const char *text, const unsigned char background[3],
                               const unsigned char foreground[3]) = nullptr;
};

// Installs the drawing layer's hooks (copied).
void bike_part_hooks_install(const BikePartHooks &hooks);
const BikePartHooks &bike_part_hooks();

// False for names that could leave the data folders: absolute paths, any "..", a
// backslash, a control character, or longer than 255 characters. Empty names are safe.
bool texture_name_safe(const char *name);
// The skin variant of a model path for a texture name: the model path up to its last
// ".", the texture file name's text from its first "-" up to its second "-", and ".zm".
// Empty when the file name has fewer than two "-" or the model path no "." after its
// last "/".
std::string model_variant_path(const char *model_path, const char *texture_name);
// A model with its skin: the variant (as a virtual name, then by its file name in the
// texture's folder) when the texture name makes one, else the model path. With warn,
// a failure logs "Warning: Can't load ..." with the path(s) tried.
void *skinned_model_load(const char *model_path, const char *texture_name, bool warn);

// Plate colours from a texture's text: "[numberbackground:%f,%f,%f" and
// "[numberforeground:%f,%f,%f" (each 0..1, clamped, times 255); white and black when
// missing.
void number_plate_colours(const char *text, unsigned char background[3],
                          unsigned char foreground[3]);

// Loads the bike's textures and models in order, falling back to the model's default
// skins, then makes the number plate. Names must already be safe.
void bike_parts_load(Bike *bike, const char *rider_texture, const char *head_texture,
                     const char *bike_texture, const char *wheel_texture);
