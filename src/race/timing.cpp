#include "race/timing.h"

namespace {

bool has_time(const RiderGates &rider, long long s) {
    return gate_time(rider, s) >= 0;
}

} // namespace

long long final_lap_end(const GateData &data, int total_laps) {
    if (total_laps == 0) return 0;
    return gate_lap_end_index(data, total_laps);
}

int gate_time(const RiderGates &rider, long long s) {
    if (s < 0 || s >= (long long)rider.gate_times.size()) return -1;
    return rider.gate_times[std::size_t(s)];
}

int gates_check(const GateData &data, RiderGates &rider, double x, double z, int step,
                const RaceLaps &race) {
    if (data.checkpoints.empty() || data.first_lap.empty() || data.normal_lap.empty() ||
        rider.finished) {
        return -1;
    }
    static const int kOffsets[] = {-3, -2, 0, 1, 2};
    bool missing = false;
    int accepted = -1;
    for (int offset : kOffsets) {
        int s = rider.next_gate + offset;
        if (s < 0) continue;
        bool recorded = has_time(rider, s);
        if (!recorded) missing = true;
        int index = gate_checkpoint(data, s);
        if (index < 0 || index >= int(data.checkpoints.size())) continue;
        const Checkpoint &gate = data.checkpoints[std::size_t(index)];
        if (gate_contains(gate, x, z)) {
            if (offset >= 0 || missing) {
                accepted = s;
                break;
            }
            continue; // a gate already passed, seen again from behind the rider
        }
        if (gate_is_lap_end(data, s) && !recorded) return -1; // finish line not crossed yet
    }
    if (accepted < 0) return -1;

    if (int(rider.gate_times.size()) < accepted + 1)
        rider.gate_times.resize(std::size_t(accepted) + 1, -1);
    rider.gate_times[std::size_t(accepted)] = step;
    rider.next_gate = accepted + 1;

    long long first = (long long)data.first_lap.size();
    long long normal = (long long)data.normal_lap.size();
    long long after = accepted + 1;
    if (after >= first && (after - first) % normal == 0 && !rider.finished) {
        long long laps_done = (after - first) / normal + 1;
        bool leader_done =
            race.leader && race.leader->next_gate > final_lap_end(data, race.total_laps);
        if (leader_done || laps_done >= race.total_laps) rider.finished = true;
    }
    return accepted;
}

LapPosition lap_of(const GateData &data, const RiderGates &rider) {
    int s = rider.next_gate;
    int first = int(data.first_lap.size()), normal = int(data.normal_lap.size());
    if (s < first || normal == 0) return {0, s};
    return {(s - first) / normal + 1, (s - first) % normal + 1};
}

int lap_steps(const GateData &data, const RiderGates &rider, int lap, int gate_drop) {
    if (lap < 1 || data.first_lap.empty()) return 0;
    int start, end;
    if (lap == 1) {
        start = gate_drop;
        end = gate_time(rider, gate_lap_end_index(data, 1));
    } else {
        start = gate_time(rider, gate_lap_end_index(data, lap - 1));
        end = gate_time(rider, gate_lap_end_index(data, lap));
    }
    if (start < 0 || end < 0) return 0;
    return end - start;
}

double lap_time(const GateData &data, const RiderGates &rider, int lap, int gate_drop) {
    return lap_steps(data, rider, lap, gate_drop) / kStepsPerSecond;
}

int best_lap(const GateData &data, const RiderGates &rider, int gate_drop) {
    int completed = lap_of(data, rider).lap;
    int best = 0, best_steps = 0;
    for (int lap = 2; lap <= completed; lap++) {
        int steps = lap_steps(data, rider, lap, gate_drop);
        if (steps != 0 && (best == 0 || steps < best_steps)) {
            best = lap;
            best_steps = steps;
        }
    }
    return best;
}

bool has_finished(const GateData &data, RiderGates &rider, const RaceLaps &race) {
    if (rider.finished) return true;
    if (!race.leader || data.first_lap.empty() || data.normal_lap.empty()) return false;
    long long final_end = final_lap_end(data, race.total_laps);
    if (race.leader->next_gate <= final_end) return false;
    int finish_time = gate_time(*race.leader, final_end);
    if (finish_time < 0) return false;
    int completed = lap_of(data, rider).lap;
    int latest = completed >= 1 ? gate_time(rider, gate_lap_end_index(data, completed))
                                : gate_time(rider, 0);
    if (latest < 0 || latest < finish_time) return false;
    rider.finished = true;
    return true;
}

void set_next_gate(RiderGates &rider, int s) {
    if (s < 0) s = 0;
    if (s < rider.next_gate) rider.finished = false;
    rider.next_gate = s;
    if (int(rider.gate_times.size()) > s) rider.gate_times.resize(std::size_t(s));
}
