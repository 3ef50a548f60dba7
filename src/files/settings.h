// The user settings: one global record holding every setting of the configuration file
// as the widget state the menus show (a choice list, a number slider, a text field, a
// control binding) or as a plain value. The menus draw and edit these records; the
// configuration file (files/config.h) and the setup files (files/setup.h) read and write
// them. Main thread only.
//
// Lists whose texts come from other subsystems (bike models, skins, tracks, video modes)
// are filled through the setters below; until then they have no texts and hold the value
// read from the file as text, so it is neither lost nor mistaken for a choice.
#pragma once
#include <string>
#include <vector>

// Where an item was last drawn, in window client pixels; (-1, -1, -1, -1) when not drawn.
struct ItemRect {
    int x0 = -1, y0 = -1, x1 = -1, y1 = -1;
};

// A list of choices with one selected.
struct ChoiceSetting {
    std::string label;
    std::vector<std::string> choices;
    int index = 0;         // selected choice, 0 when there are none
    std::string held_text; // the value while choices is empty (written back as it was read)
    ItemRect rect;
};

// A numeric slider.
struct NumberSetting {
    std::string label;
    double value = 0, step = 1, min = 0, max = 1;
    ItemRect rect;
    int bar_x0 = -1, bar_x1 = -1; // the bar's x range in pixels, written when drawn
};

// A text field holding at most max_length characters.
struct TextSetting {
    std::string label;
    int max_length = 0;
    std::string text;
    int cursor = 0;     // 0 .. text length
    bool insert = true; // insert (true) or overwrite (false) typed characters
    ItemRect rect;
};

// One control's binding: a key by name, or an analog axis by name with its used range.
// Names are interned (platform/memory.h); codes and handles are resolved by the input
// layer once the window exists.
struct ControlBinding {
    std::string label;
    const char *key_name = nullptr;  // bound key, or null
    int key_code = -1;               // resolved key code, -1 for none
    const char *axis_name = nullptr; // bound axis, or null
    void *axis_handle = nullptr;     // resolved axis, or null
    double low = 0, high = 1;        // axis value mapped to 0 and to 1
    ItemRect rect;
};

// The twenty controls, in file and menu order.
enum Control {
    kControlThrottle,
    kControlFrontBrake,
    kControlRearBrake,
    kControlLeft,
    kControlRight,
    kControlClutch,
    kControlUpshift,
    kControlDownshift,
    kControlDab,
    kControlBackUp,
    kControlLeanForward,
    kControlLeanBackward,
    kControlPause,
    kControlStep,
    kControlRewind,
    kControlSkip,
    kControlPrev,
    kControlNext,
    kControlConsole,
    kControlScreenshot,
    kControlCount
};

constexpr int kGateCount = 40;
constexpr int kServerHistoryCount = 16;
constexpr int kServerNameMax = 127;

// A display mode offered by the platform.
struct VideoMode {
    int width, height, bits;
};

// The rider and bike setup (also the contents of a setup file).
struct SetupSettings {
    ChoiceSetting bike;
    TextSetting name, number;
    ChoiceSetting rider_texture, head_texture, bike_texture, wheel_texture;
    NumberSetting stability;
    // The fifteen assist values (also written by assist_from_stability).
    NumberSetting leveling, roll_damping, roll_limit_angle, roll_limit_factor;
    NumberSetting steering_damping, steering_strength, max_steering_force, direct_steering;
    NumberSetting slow_damping_speed, slow_damping_factor;
    NumberSetting land_damping_falloff, land_damping_factor;
    NumberSetting full_lock_speed, restricted_lock_speed, restricted_lock;
    ChoiceSetting arcade, front_brake, rear_brake, stop_wheelies;
    ChoiceSetting auto_shift, auto_dab, auto_align, sticky_dab, reverse_steering;
    ChoiceSetting lean_indicator;
    NumberSetting auto_clutch_rpms, brake_torque, rear_brake_torque, max_dab_speed;
    NumberSetting front_sprocket_adjustment, rear_sprocket_adjustment;
    NumberSetting fork_compression_adjustment, fork_slow_compression_adjustment;
    NumberSetting fork_rebound_adjustment, fork_slow_rebound_adjustment;
    NumberSetting fork_spring_rate_adjustment, fork_preload_adjustment;
    NumberSetting fork_oil_level_adjustment;
    NumberSetting shock_compression_adjustment, shock_slow_compression_adjustment;
    NumberSetting shock_rebound_adjustment, shock_slow_rebound_adjustment;
    NumberSetting shock_spring_rate_adjustment, shock_preload_adjustment;
    NumberSetting rider_yspring, rider_ydamping, rider_zspring, rider_zdamping;
    NumberSetting rider_mass_distribution;
};

struct Settings {
    int xres, yres;                     // window size in windowed mode
    int draw_fps, draw_time, draw_ping; // HUD display levels
    int spy;                            // non-zero: other riders may be viewed while racing

    // "Track": display names of the track list, with the identifiers alongside. The
    // identifier read from the file is held in track.held_text until the list exists.
    ChoiceSetting track;
    std::vector<std::string> track_ids;

    ChoiceSetting record, skill;
    NumberSetting minutes, laps;
    ChoiceSetting gates[kGateCount]; // keys "slot00" .. "slot39"
    NumberSetting ghost_fade_distance;
    ChoiceSetting time_trial_abort;

    SetupSettings setup;

    // "Video Mode" and the size of each choice (0 x 0 for "Default Fullscreen" and for
    // "Windowed", which uses xres x yres).
    ChoiceSetting video_mode;
    std::vector<VideoMode> video_mode_sizes;

    TextSetting server_name;
    std::string server_history[kServerHistoryCount]; // entry 0 the most recent

    NumberSetting ground_detail, ground_texture_detail;
    ChoiceSetting ground_texture_dim, ground_mipmaps, texture_compress, render_texture;
    ChoiceSetting use_shader;
    NumberSetting roost_density;
    ChoiceSetting lens_flare, reflections, hide_rider, rigid_camera;
    NumberSetting model_detail, model_texture_detail, fov;
    NumberSetting first_person_height, first_person_angle;
    NumberSetting third_person_height, third_person_distance;
    NumberSetting volume, comp_volume;
    ChoiceSetting playback_mode;
    int billboard_optimize_lookahead;
    int message_lines; // most message lines shown
    int demo_backups;  // numbered demo backups kept
    double map_scale;  // 0.125 .. 8

    ControlBinding controls[kControlCount];
};

// The one settings record. Holds the defaults until something changes it.
Settings &settings();
// Puts every value back to its default. The lists filled from outside (bike models,
// skins, tracks, video modes) keep their texts; their selection goes back to the default.
void settings_reset();

// ---- Lists filled by other subsystems ----

// Replaces a list's texts. The selection keeps the selected (or held) text when the new
// list has it, else becomes the first choice.
void choice_set_texts(ChoiceSetting &c, std::vector<std::string> texts);
// The selected text, or the held text when the list has no choices.
const std::string &choice_text(const ChoiceSetting &c);
// Selects the choice equal to text (exact, case-sensitive). With no choices the text is
// held instead. False (and nothing changed) when a non-empty list has no such choice.
bool choice_select(ChoiceSetting &c, const std::string &text);

// The riding-gear, helmet and wheel skin lists are filled with choice_set_texts on
// settings().setup.rider_texture, .head_texture and .wheel_texture.

// The bike catalogue's model names, in menu order (call before config_read).
void settings_set_bike_models(const char *const *names, int count);
// Where the bike skins of a model come from (the texture layer); null for none.
using BikeSkinSource = std::vector<std::string> (*)(const std::string &bike_model);
void settings_set_bike_skin_source(BikeSkinSource source);
// Rebuilds "Bike Graphics" for the selected bike and selects its first choice.
void settings_bike_changed();
// The track list: identifiers and display names (same length). Selects the entry whose
// identifier equals selected_id, else the held identifier, else the first entry.
void settings_set_track_list(const std::vector<std::string> &ids,
                             const std::vector<std::string> &names,
                             const std::string &selected_id = std::string());
// The identifier of the selected track (the held identifier while the list is empty).
const std::string &settings_track_id();

// Fills the "Video Mode" choices from the platform's modes (desktop mode first): modes
// with the first mode's colour depth, each size once, after "Default Fullscreen" and
// "Windowed". An empty list (headless) gives just those two.
void video_modes_build(const VideoMode *modes, int count);

// Clamps to min..max (NaN gives min).
double number_clamp(const NumberSetting &n, double v);

// ---- Reading values by kind, as the configuration and setup files store them ----

// Choice: the value must equal a choice text exactly; otherwise unchanged (false).
bool choice_read(ChoiceSetting &c, const char *value);
// Number: scanned with "%f" (single precision), clamped to min..max; unchanged (false)
// when it does not parse.
bool number_read(NumberSetting &n, const char *value);
// Integer: scanned with "%d" (no clamping); unchanged (false) when it does not parse.
bool integer_read(int &v, const char *value);
// Real: scanned with "%f"; unchanged (false) when it does not parse.
bool real_read(double &v, const char *value);
// Text: copied, cut to max_length characters (a line end left at the cut is dropped).
void text_read(TextSetting &t, const char *value);
// Appends "key=value\n" to out.
void append_setting_line(std::string &out, const char *key, const std::string &value);
// The number as written: "%f".
std::string number_format(double v);
