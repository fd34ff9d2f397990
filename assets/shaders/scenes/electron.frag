#version 330 core
// Electron: a sphere of glowing, slowly churning charge with three orbits of light around it.
// Each view ray that crosses the sphere is sampled in SLICES slices between the entry and exit
// points; every slice adds the value of an animated ridged noise stack to the density carried
// along the ray, and the density is turned into colour front to back.

#define SLICES 50.0
#define START_AMPLITUDE 0.01
#define START_FREQUENCY 1.25
#define START_DENSITY 0.0
#define ANIMATION_SPEED 0.075
#define RADIUS 0.5

in vec2 fragCoord;

uniform float inTime;

out vec4 fragColor;

const vec2 RESOLUTION = vec2(1280.0, 720.0);
const int OCTAVES = 6;
const int MAX_SLICES = 50;

// ---------------------------------------------------------------- noise

uint scramble(uint x)
{
    x ^= x >> 16u;
    x *= 0xB5297A4Du;
    x ^= x >> 14u;
    x *= 0x68E31DA5u;
    x ^= x >> 15u;
    return x;
}

// Lattice coordinates are offset to stay positive before the unsigned conversion.
float latticeValue(ivec3 c)
{
    uvec3 u = uvec3(c + ivec3(32768));
    uint h = scramble(u.x * 0x1B873593u + u.y * 0x5BD1E995u + u.z * 0x27D4EB2Fu);
    return float(h >> 8u) * (1.0 / 16777216.0);
}

float valueNoise(vec3 p)
{
    vec3 cell = floor(p);
    vec3 f = p - cell;
    vec3 w = f * f * f * (f * (f * 6.0 - 15.0) + 10.0);
    ivec3 c = ivec3(cell);
    float a = latticeValue(c);
    float b = latticeValue(c + ivec3(1, 0, 0));
    float d = latticeValue(c + ivec3(0, 1, 0));
    float e = latticeValue(c + ivec3(1, 1, 0));
    float g = latticeValue(c + ivec3(0, 0, 1));
    float h = latticeValue(c + ivec3(1, 0, 1));
    float k = latticeValue(c + ivec3(0, 1, 1));
    float l = latticeValue(c + ivec3(1, 1, 1));
    return mix(mix(mix(a, b, w.x), mix(d, e, w.x), w.y),
               mix(mix(g, h, w.x), mix(k, l, w.x), w.y), w.z);
}

mat3 rotationY(float a)
{
    float c = cos(a);
    float s = sin(a);
    return mat3(c, 0.0, -s, 0.0, 1.0, 0.0, s, 0.0, c);
}

mat3 rotationX(float a)
{
    float c = cos(a);
    float s = sin(a);
    return mat3(1.0, 0.0, 0.0, 0.0, c, s, 0.0, -s, c);
}

const mat3 OCTAVE_TURN = mat3(0.00, 0.80, 0.60,
                              -0.80, 0.36, -0.48,
                              -0.60, -0.48, 0.64);

// Value added by one slice at point p (sphere space): a ridged noise stack whose octaves
// start at START_AMPLITUDE and START_FREQUENCY, shaped so that the charge thins out towards
// the surface and gathers around a bright nucleus.
float sliceValue(vec3 p, float time)
{
    float r = length(p) / RADIUS;
    vec3 q = rotationY(time * 5.0) * p / RADIUS * 2.0;
    // The field folds in on itself, so the filaments twist as they drift: a slow noise
    // drags the sample point along a swirl that changes over time.
    float drag = valueNoise(q * 0.6 + vec3(time * 3.0, 0.0, -time * 2.0));
    q += vec3(sin(q.y * 1.7 + time * 9.0 + drag * 4.0), sin(q.z * 1.9 - time * 7.0 + drag * 3.0),
              sin(q.x * 1.5 + time * 8.0 - drag * 5.0)) * 0.35;

    float amplitude = START_AMPLITUDE;
    float frequency = START_FREQUENCY;
    float value = 0.0;
    for (int i = 0; i < OCTAVES; i++) {
        float n = valueNoise(q * frequency + vec3(0.0, 0.0, time * 4.0 * frequency));
        float ridge = 1.0 - abs(n * 2.0 - 1.0);
        ridge *= ridge;
        ridge *= ridge;
        value += amplitude * ridge * ridge;
        q = OCTAVE_TURN * q;
        frequency *= 2.03;
        amplitude *= 0.62;
    }
    float shell = 1.0 - smoothstep(0.55, 1.0, r);
    float nucleus = exp(-r * r * 18.0) * 0.012;
    return value * shell + nucleus;
}

// ---------------------------------------------------------------- colour

vec3 chargeColour(float density)
{
    vec3 deep = vec3(0.10, 0.02, 0.35);
    vec3 blue = vec3(0.05, 0.35, 1.30);
    vec3 cyan = vec3(0.30, 1.25, 1.70);
    vec3 white = vec3(2.20, 2.20, 2.40);
    vec3 col = mix(deep, blue, smoothstep(0.00, 0.25, density));
    col = mix(col, cyan, smoothstep(0.20, 0.55, density));
    return mix(col, white, smoothstep(0.50, 1.00, density));
}

// ---------------------------------------------------------------- orbits

float safeAngle(vec2 v)
{
    return abs(v.x) + abs(v.y) > 1.0e-6 ? atan(v.y, v.x) : 0.0;
}

// Squared distance from the ray (o, d) to the point of angle a on the circle of radius R in
// the xz plane, with its first two derivatives with respect to a.
vec3 circleTerms(vec3 o, vec3 d, float R, float a)
{
    vec3 u = vec3(cos(a), 0.0, sin(a));
    vec3 du = vec3(-u.z, 0.0, u.x);
    float proj = R * dot(d, u) - dot(d, o);
    float f = R * R - 2.0 * R * dot(u, o) + dot(o, o) - proj * proj;
    float f1 = -2.0 * R * dot(du, o) - 2.0 * proj * R * dot(d, du);
    float f2 = 2.0 * R * dot(u, o) - 2.0 * R * R * dot(d, du) * dot(d, du) + 2.0 * proj * R * dot(d, u);
    return vec3(f, f1, f2);
}

// Angle of the point of the circle nearest to the ray: Newton's method from two starts.
float nearestCircleAngle(vec3 o, vec3 d, float R)
{
    vec3 closest = o + d * max(-dot(o, d), 0.0);
    float startA = safeAngle(closest.xz);
    float startB = startA;
    if (abs(d.y) > 1.0e-4) {
        vec3 p = o + d * (-o.y / d.y);
        startB = safeAngle(p.xz);
    }
    float bestAngle = startA;
    float bestF = 1.0e9;
    for (int s = 0; s < 2; s++) {
        float a = s == 0 ? startA : startB;
        for (int i = 0; i < 4; i++) {
            vec3 terms = circleTerms(o, d, R, a);
            float stepSize = terms.z > 1.0e-4 ? terms.y / terms.z : sign(terms.y) * 0.2;
            a -= clamp(stepSize, -0.5, 0.5);
        }
        float f = circleTerms(o, d, R, a).x;
        if (f < bestF) {
            bestF = f;
            bestAngle = a;
        }
    }
    return bestAngle;
}

// Glow of one orbit (a circle in a tilted plane) with its electron and comet tail.
vec3 orbitGlow(vec3 ro, vec3 rd, mat3 frame, float radius, float phase, float sphereNear,
               float sphereFar, float sphereDim)
{
    vec3 o = frame * ro;
    vec3 d = frame * rd;
    float a = nearestCircleAngle(o, d, radius);
    vec3 point = vec3(cos(a), 0.0, sin(a)) * radius;
    float along = dot(point - o, d);
    if (along <= 0.0) {
        return vec3(0.0);
    }
    vec3 offset = point - o - d * along;
    float ringDist2 = dot(offset, offset);
    float line = 0.000004 / (ringDist2 + 0.000006);

    float angle = inTime * 1.3 + phase;
    vec3 electron = vec3(cos(angle), 0.0, sin(angle)) * radius;
    float electronAlong = dot(electron - o, d);
    vec3 electronOffset = electron - o - d * electronAlong;
    float spark = 0.00006 / (dot(electronOffset, electronOffset) + 0.00002);
    spark *= step(0.0, electronAlong);
    float behind = mod(angle - a, 6.2831853);
    float tail = exp(-behind * 1.2) * line * 6.0;
    vec3 col = vec3(0.20, 0.50, 1.0) * line + vec3(0.55, 0.85, 1.0) * (spark + tail);
    // Behind the sphere the orbit is seen through the charge, dimmer.
    if (sphereFar > sphereNear && along > sphereNear) {
        col *= sphereDim;
    }
    return col;
}

// ---------------------------------------------------------------- main

void main()
{
    float aspect = RESOLUTION.x / RESOLUTION.y;
    vec2 uv = (fragCoord * 2.0 - 1.0) * vec2(aspect, 1.0);
    float time = inTime * ANIMATION_SPEED;

    // Slow orbit of the camera with a gentle dolly.
    float yaw = inTime * 0.18;
    float pitch = 0.25 * sin(inTime * 0.21);
    float camDistance = 1.72 - 0.12 * sin(inTime * 0.3);
    vec3 ro = vec3(sin(yaw) * cos(pitch), sin(pitch), cos(yaw) * cos(pitch)) * camDistance;
    vec3 forward = normalize(-ro);
    vec3 right = normalize(cross(vec3(0.0, 1.0, 0.0), forward));
    vec3 up = cross(forward, right);
    vec3 rd = normalize(forward * 2.1 + right * uv.x + up * uv.y);

    // Background: a deep gradient and a soft bloom around the sphere.
    float b = -dot(ro, rd);
    float closest = length(ro + rd * b);
    vec3 col = mix(vec3(0.002, 0.003, 0.010), vec3(0.006, 0.005, 0.022), fragCoord.y);
    // Faint dust far behind, fixed in space so it turns with the camera.
    vec3 starCell = floor(rd * 160.0);
    uvec3 su = uvec3(ivec3(starCell) + ivec3(32768));
    uint starHash = scramble(su.x * 0x1B873593u + su.y * 0x5BD1E995u + su.z * 0x27D4EB2Fu);
    vec3 centre = normalize(starCell + 0.5);
    // Only cells whose centre direction falls inside them hold a star, so none is cut off.
    if ((starHash & 255u) < 2u && floor(centre * 160.0) == starCell) {
        float starDist = length(rd - centre) * 160.0;
        float twinkle = 0.6 + 0.4 * sin(inTime * 2.0 + float(starHash >> 24u));
        col += vec3(0.5, 0.6, 1.0) * 0.25 * twinkle * exp(-starDist * starDist * 8.0);
    }
    float bloom = max(closest - RADIUS * 0.8, 0.0) * 7.0;
    col += vec3(0.10, 0.25, 0.80) * 0.02 / (1.0 + bloom * bloom);

    float sphereNear = 0.0;
    float sphereFar = 0.0;
    float sphereDim = 1.0;
    float disc = b * b - dot(ro, ro) + RADIUS * RADIUS;
    if (disc > 0.0) {
        float root = sqrt(disc);
        sphereNear = max(b - root, 0.0);
        sphereFar = b + root;
        float stepLength = (sphereFar - sphereNear) / SLICES;
        // Per-pixel offset of the slices turns banding into fine grain.
        uvec2 pixel = uvec2(ivec2(fragCoord * RESOLUTION) + ivec2(32768));
        float jitter = float(scramble(pixel.x * 0x9E3779B1u + scramble(pixel.y)) >> 8u) * (1.0 / 16777216.0);
        float density = START_DENSITY;
        vec3 glow = vec3(0.0);
        float transmittance = 1.0;
        for (int i = 0; i < MAX_SLICES; i++) {
            if (float(i) >= SLICES || transmittance < 0.01) {
                break;
            }
            vec3 p = ro + rd * (sphereNear + (float(i) + jitter) * stepLength);
            float value = sliceValue(p, time);
            density += value;
            // Emission of this slice: bright filaments run hot, and so does charge seen
            // through a long stretch of the cloud.
            float local = value / (START_AMPLITUDE * 1.6);
            vec3 emission = chargeColour(local * 0.75 + density * 0.6) * value * 22.0;
            glow += transmittance * emission;
            transmittance *= exp(-value * 9.0);
        }
        col = col * transmittance + glow;
        sphereDim = 0.25 + 0.75 * transmittance;
    }

    // Three orbits in fixed tilted planes.
    col += orbitGlow(ro, rd, rotationX(1.15), 0.68, 0.0, sphereNear, sphereFar, sphereDim);
    col += orbitGlow(ro, rd, rotationX(1.15) * rotationY(2.094), 0.75, 2.0, sphereNear, sphereFar, sphereDim);
    col += orbitGlow(ro, rd, rotationX(1.15) * rotationY(4.189), 0.71, 4.0, sphereNear, sphereFar, sphereDim);

    col = 1.0 - exp(-col * 1.3);
    vec2 centred = fragCoord - 0.5;
    col *= 1.0 - 0.5 * dot(centred, centred);
    col = pow(clamp(col, 0.0, 1.0), vec3(1.0 / 2.2));
    fragColor = vec4(col, 1.0);
}
