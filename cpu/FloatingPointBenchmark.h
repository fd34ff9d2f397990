#pragma once
// The floating-point workload: a five-body simulation of the Sun and the giant planets,
// counted in time steps.

#include "cpu/CpuBenchmark.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>

namespace nbody {

inline constexpr double PI = 3.141592653589793;
inline constexpr double SOLAR_MASS = 4 * PI * PI;
inline constexpr double kTimeStep = 0.01;

struct Body {
    double x, y, z;
    double vx, vy, vz;
    double mass;
};

inline constexpr std::size_t kBodyCount = 5;
using System = std::array<Body, kBodyCount>;

// Sun, Jupiter, Saturn, Uranus, Neptune.
inline constexpr System kInitialSystem = {{
    {0, 0, 0, 0, 0, 0, SOLAR_MASS},
    {4.841431442464721, -1.1603200440274284, -0.10362204447112311, 0.606326392995832,
     2.81198684491626, -0.02521836165988763, 0.03769367487038949},
    {8.34336671824458, 4.124798564124305, -0.4035234171143214, -1.0107743461787924,
     1.8256623712304119, 0.008415761376584154, 0.011286326131968767},
    {12.894369562139131, -15.111151401698631, -0.22330757889265573, 1.0827910064415354,
     0.8687130181696082, -0.010832637401363636, 0.0017237240570597112},
    {15.379697114850917, -25.919314609987964, 0.17925877295037118, 0.979090732243898,
     0.5946989986476762, -0.034755955504078104, 0.0020336868699246304},
}};

// Gives the Sun the velocity that makes the total momentum zero.
inline void offsetMomentum(System& bodies) {
    double px = 0.0, py = 0.0, pz = 0.0;
    for (const Body& b : bodies) {
        px += b.vx * b.mass;
        py += b.vy * b.mass;
        pz += b.vz * b.mass;
    }
    bodies[0].vx = -px / SOLAR_MASS;
    bodies[0].vy = -py / SOLAR_MASS;
    bodies[0].vz = -pz / SOLAR_MASS;
}

// The starting state of every run: the table with the momentum offset applied.
inline System initialSystem() {
    System bodies = kInitialSystem;
    offsetMomentum(bodies);
    return bodies;
}

// One time step. The pair order and the grouping of every product are fixed, so every
// build computes the same bits.
inline void advance(System& bodies) {
    for (std::size_t i = 0; i < kBodyCount; ++i) {
        Body& a = bodies[i];
        for (std::size_t j = i + 1; j < kBodyCount; ++j) {
            Body& b = bodies[j];
            const double dx = a.x - b.x;
            const double dy = a.y - b.y;
            const double dz = a.z - b.z;
            const double d2 = (dx * dx + dy * dy) + dz * dz;
            const double d = std::sqrt(d2);
            const double mag = kTimeStep / ((d * d) * d);
            a.vx -= (dx * b.mass) * mag;
            a.vy -= (dy * b.mass) * mag;
            a.vz -= (dz * b.mass) * mag;
            b.vx += (dx * a.mass) * mag;
            b.vy += (dy * a.mass) * mag;
            b.vz += (dz * a.mass) * mag;
        }
    }
    for (Body& b : bodies) {
        b.x += b.vx * kTimeStep;
        b.y += b.vy * kTimeStep;
        b.z += b.vz * kTimeStep;
    }
}

// Kinetic minus potential energy; only a check on advance, the workload never needs it.
double energy(const System& bodies);

}  // namespace nbody

class FloatingPointBenchmark : public CpuBenchmark {
public:
    static constexpr std::uint64_t kStepsPerPoint = 10000;

    std::uint64_t run(std::atomic<bool>& running, std::atomic<bool>& abortFlag) override;
};
