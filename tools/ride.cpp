// vqride: rides one bike headless on a track of the game data, driven by the pursuit
// driver at the speeds of a line library or by a script of timed controls, and prints
// what the ride was like (laps, lap times, top speed, falls); optionally every sample as
// CSV.
//
//   vqride [--data DIR] [--track NAME] [--model NAME] [--skill 0|1|2] [--laps N]
//          [--seconds S] [--script FILE] [--csv FILE] [--every STEPS] [--slot N]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

#include "files/vfs.h"
#include "robot/pursuit.h"
#include "sim/bike.h"
#include "sim/shapes.h"
#include "sim/world.h"
#include "support/ride_harness.h"
#include "track/gates.h"
#include "track/track.h"

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: vqride [--data DIR] [--track NAME] [--model NAME] [--skill 0|1|2]\n"
                 "              [--laps N] [--seconds S] [--script FILE] [--csv FILE]\n"
                 "              [--every STEPS] [--slot N]\n");
    return 2;
}

std::string executable_folder() {
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return ".";
    path[n] = 0;
    char *slash = std::strrchr(path, '/');
    if (slash) *slash = 0;
    return path;
}

} // namespace

int main(int argc, char **argv) {
    std::string data = executable_folder(), track = "rabbithill", model = "crf450(2013)";
    std::string script_file, csv_file;
    int skill = 0, laps = 2, every = 16, slot = 0;
    double seconds = 600;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (i + 1 >= argc) return usage();
        std::string v = argv[++i];
        if (a == "--data")
            data = v;
        else if (a == "--track")
            track = v;
        else if (a == "--model")
            model = v;
        else if (a == "--skill")
            skill = std::atoi(v.c_str());
        else if (a == "--laps")
            laps = std::atoi(v.c_str());
        else if (a == "--seconds")
            seconds = std::atof(v.c_str());
        else if (a == "--script")
            script_file = v;
        else if (a == "--csv")
            csv_file = v;
        else if (a == "--slot")
            slot = std::atoi(v.c_str());
        else if (a == "--every")
            every = std::atoi(v.c_str());
        else
            return usage();
    }
    setenv("VQ_HOME", data.c_str(), 1);
    vfs_reset_for_tests();
    physics_world_create();
    if (!track_load(track.c_str(), 0)) {
        std::fprintf(stderr, "vqride: cannot load track '%s' from %s\n", track.c_str(),
                     data.c_str());
        return 1;
    }
    Ride ride;
    ride.sample_every = every;
    bool drive = script_file.empty();
    if (!drive) {
        std::ifstream in(script_file);
        std::stringstream text;
        text << in.rdbuf();
        std::string error;
        if (!in || !ride_script_parse(text.str(), ride.cues, &error)) {
            std::fprintf(stderr, "vqride: %s: %s\n", script_file.c_str(),
                         in ? error.c_str() : "cannot read");
            return 1;
        }
    } else if (!pursuit_lines_load(skill)) {
        std::fprintf(stderr, "vqride: no line library %d for '%s'; aiming at checkpoints\n", skill,
                     track.c_str());
    }
    Bike *bike = ride_bike_at_start(model.c_str(), slot);
    if (!bike) {
        std::fprintf(stderr, "vqride: '%s' has no starting gate\n", track.c_str());
        return 1;
    }
    ride_begin(ride, bike, drive);
    const RideSummary &s = ride_run(ride, seconds, drive ? laps : 0);
    if (!csv_file.empty()) {
        std::FILE *f = std::fopen(csv_file.c_str(), "w");
        if (f) {
            std::fprintf(f, "time,x,y,z,speed,roll,heading,steer_angle,steer,throttle,gear,rpm,"
                            "crash_timer,next_gate,lean_target,target_speed,front_slip,front_slide,"
                            "rear_slide\n");
            for (const RideSample &m : ride.samples)
                std::fprintf(f,
                             "%.4f,%.3f,%.3f,%.3f,%.3f,%.4f,%.4f,%.4f,%.3f,%.3f,%d,%.0f,%d,%d,%.3f,"
                             "%.1f,%.3f,%.2f,%.2f\n",
                             m.time, m.position.x, m.position.y, m.position.z, m.speed, m.roll,
                             m.heading, m.steer_angle, m.steer, m.throttle, m.gear + 1, m.rpm,
                             m.crash_timer, m.next_gate, m.lean_target, m.target_speed,
                             m.front_slip, m.slide[0], m.slide[1]);
            std::fclose(f);
        }
    }
    std::printf("track %s, %s, %s\n", track.c_str(), bike->model.name,
                drive ? "pursuit driver" : "script");
    std::printf("ridden %.1f s over %.0f ft, top speed %.1f ft/s (%.1f mph), falls %d (rider "
                "thrown off) + %d (bike down)%s\n",
                s.seconds, s.distance, s.top_speed, s.top_speed / 1.4666667, s.falls, s.downs,
                s.blew_up ? ", the simulation blew up" : "");
    std::printf("laps %d", s.laps);
    for (std::size_t i = 0; i < s.lap_times.size(); ++i)
        std::printf("%s %.2f s", i ? "," : ":", s.lap_times[i]);
    std::printf("\n");
    ride_end(ride);
    bike_destroy(bike);
    track_free();
    physics_world_destroy();
    shapes_free_all();
    return s.blew_up ? 1 : 0;
}
