#include "cpu/FloatingPointBenchmark.h"

namespace nbody {

double energy(const System& bodies) {
    double e = 0.0;
    for (std::size_t i = 0; i < kBodyCount; ++i) {
        const Body& a = bodies[i];
        e += 0.5 * a.mass * (a.vx * a.vx + a.vy * a.vy + a.vz * a.vz);
        for (std::size_t j = i + 1; j < kBodyCount; ++j) {
            const Body& b = bodies[j];
            const double dx = a.x - b.x;
            const double dy = a.y - b.y;
            const double dz = a.z - b.z;
            e -= (a.mass * b.mass) / std::sqrt(dx * dx + dy * dy + dz * dz);
        }
    }
    return e;
}

}  // namespace nbody

std::uint64_t FloatingPointBenchmark::run(std::atomic<bool>& running, std::atomic<bool>& abortFlag) {
    nbody::System bodies = nbody::initialSystem();
    std::uint64_t steps = 0;
    while (running.load() && !abortFlag.load()) {
        nbody::advance(bodies);
        ++steps;
    }
    return steps / kStepsPerPoint;
}
