#version 330 core
// Clouds: a slow flight over a sea of cumulus at the golden hour.
// Volumetric ray march through a cloud slab (up to 130 steps per pixel) with a short
// march towards the sun for self-shadowing, a two-lobe phase function for the silver
// lining, aerial perspective and an ocean under the clouds.

in vec3 fragNormal;
in vec3 fragPos;
in vec2 fragCoord;

uniform float inTime;

out vec4 fragColor;

const vec2 RESOLUTION = vec2(1280.0, 720.0);

const float CLOUD_BOTTOM = 1.2;
const float CLOUD_TOP = 4.6;
const float MAX_DISTANCE = 70.0;
const int VIEW_STEPS = 130;
const int LIGHT_STEPS = 5;

const vec3 SUN_DIR = vec3(-0.5205, 0.1951, 0.8312); // normalised; low over the horizon ahead-left
const vec3 SUN_COLOR = vec3(1.65, 1.12, 0.66);

// ---------------------------------------------------------------- hashing and noise

uint scramble(uint x)
{
    x ^= x >> 15u;
    x *= 0xD35A2D97u;
    x ^= x >> 13u;
    x *= 0x2C1B3C6Du;
    x ^= x >> 16u;
    return x;
}

// Lattice coordinates are offset to stay positive, so the int to uint conversion never
// sees a negative value; the scene never gets near the offset.
float latticeValue(ivec3 c)
{
    uvec3 u = uvec3(c + ivec3(32768));
    uint h = scramble(u.x * 0x8DA6B343u + u.y * 0xD8163841u + u.z * 0xCB1AB31Fu);
    return float(h >> 8u) * (1.0 / 16777216.0);
}

float pixelHash(vec2 p)
{
    uvec2 u = uvec2(ivec2(p) + ivec2(32768));
    return float(scramble(u.x * 0x9E3779B1u + scramble(u.y)) >> 8u) * (1.0 / 16777216.0);
}

float valueNoise(vec3 p)
{
    vec3 cell = floor(p);
    vec3 f = p - cell;
    vec3 w = f * f * (3.0 - 2.0 * f);
    ivec3 c = ivec3(cell);
    float a = latticeValue(c);
    float b = latticeValue(c + ivec3(1, 0, 0));
    float d = latticeValue(c + ivec3(0, 1, 0));
    float e = latticeValue(c + ivec3(1, 1, 0));
    float g = latticeValue(c + ivec3(0, 0, 1));
    float h = latticeValue(c + ivec3(1, 0, 1));
    float k = latticeValue(c + ivec3(0, 1, 1));
    float l = latticeValue(c + ivec3(1, 1, 1));
    float lower = mix(mix(a, b, w.x), mix(d, e, w.x), w.y);
    float upper = mix(mix(g, h, w.x), mix(k, l, w.x), w.y);
    return mix(lower, upper, w.z);
}

// Each octave is rotated so that the lattice axes never line up.
const mat3 OCTAVE_TURN = mat3(0.00, 1.60, 1.20,
                              -1.60, 0.72, -0.96,
                              -1.20, -0.96, 1.28);

// ---------------------------------------------------------------- the cloud field

float coverageAt(vec2 xz)
{
    vec3 q = vec3(xz * 0.055, 3.7);
    float c = valueNoise(q) * 0.65 + valueNoise(OCTAVE_TURN * q) * 0.35;
    return smoothstep(0.24, 0.66, c);
}

// Density in the slab; detail noise is skipped for the cheap shadow rays.
float cloudDensity(vec3 p, float coverage, bool detailed)
{
    float h = (p.y - CLOUD_BOTTOM) / (CLOUD_TOP - CLOUD_BOTTOM);
    if (h <= 0.0 || h >= 1.0 || coverage <= 0.0) {
        return 0.0;
    }
    // Flat bases and dome tops whose height follows the coverage.
    float top = 0.30 + 0.70 * coverage;
    float profile = smoothstep(0.0, 0.07, h) * (1.0 - smoothstep(top * 0.35, top, h));
    if (profile <= 0.0) {
        return 0.0;
    }
    vec3 wind = vec3(inTime * 0.22, 0.0, inTime * 0.05);
    vec3 q = (p + wind) * 0.36;
    float shape = valueNoise(q) * 0.5;
    q = OCTAVE_TURN * q;
    shape += valueNoise(q) * 0.28;
    q = OCTAVE_TURN * q + vec3(inTime * 0.04);
    shape += valueNoise(q) * 0.14;
    float d = shape / 0.92 * profile * (0.55 + 0.45 * coverage) - (1.0 - coverage) * 0.6 - 0.16;
    if (detailed && d > -0.07 && d < 0.30) {
        // Billowing erosion at the rims only; the cores are opaque anyway.
        q = OCTAVE_TURN * q * 1.9;
        float detail = valueNoise(q) * 0.65 + valueNoise(OCTAVE_TURN * q) * 0.35;
        d -= (1.0 - detail) * 0.15 * (0.45 + h);
    }
    return clamp(d * 5.0, 0.0, 1.0);
}

// ---------------------------------------------------------------- sky and ocean

vec3 skyColor(vec3 rd)
{
    float up = max(rd.y, 0.0);
    float sunAmount = max(dot(rd, SUN_DIR), 0.0);
    vec3 sky = mix(vec3(0.20, 0.34, 0.62), vec3(0.02, 0.07, 0.26), sqrt(up));
    vec3 glow = mix(vec3(0.95, 0.42, 0.16), vec3(1.25, 0.62, 0.22), pow(sunAmount, 4.0));
    sky = mix(sky, glow, exp(-up * 9.0) * (0.65 + 0.35 * sunAmount));
    sky += vec3(1.20, 0.55, 0.18) * pow(sunAmount, 8.0) * 0.5 * exp(-up * 3.0);
    sky += SUN_COLOR * 0.4 * pow(sunAmount, 90.0);
    sky += SUN_COLOR * vec3(1.0, 0.92, 0.8) * 22.0 * smoothstep(0.99982, 0.99992, sunAmount);
    return sky;
}

// The haze takes the colour of the horizon straight above it, so that the far ocean
// and the far clouds meet the sky without a seam.
vec3 hazeColor(vec3 rd)
{
    vec2 ground = rd.xz;
    float len = length(ground);
    vec3 horizonDir = len > 1.0e-4 ? vec3(ground.x / len, 0.0, ground.y / len) : vec3(1.0, 0.0, 0.0);
    return skyColor(horizonDir);
}

vec3 oceanColor(vec3 ro, vec3 rd, float dist)
{
    vec3 p = ro + rd * dist;
    // Long swell plus a finer chop; stretched so the lattice never shows.
    vec2 xz = p.xz * vec2(0.9, 2.4);
    float e = 0.08;
    vec3 q = vec3(xz, inTime * 0.35);
    float n0 = valueNoise(q) + 0.5 * valueNoise(q * 2.3 + 7.0);
    float nx = valueNoise(q + vec3(e, 0.0, 0.0)) + 0.5 * valueNoise((q + vec3(e, 0.0, 0.0)) * 2.3 + 7.0);
    float nz = valueNoise(q + vec3(0.0, e, 0.0)) + 0.5 * valueNoise((q + vec3(0.0, e, 0.0)) * 2.3 + 7.0);
    float fade = exp(-dist * 0.05);
    vec3 n = normalize(vec3((n0 - nx) * 0.6 * fade, 1.0, (n0 - nz) * 0.25 * fade));
    vec3 refl = reflect(rd, n);
    refl.y = abs(refl.y);
    float fresnel = 0.02 + 0.98 * pow(clamp(1.0 - dot(n, -rd), 0.0, 1.0), 5.0);
    vec3 water = vec3(0.004, 0.02, 0.045);
    vec3 col = mix(water, skyColor(refl) * 0.7, fresnel);
    col += SUN_COLOR * 4.0 * pow(max(dot(refl, SUN_DIR), 0.0), 400.0);
    return col;
}

// ---------------------------------------------------------------- lighting

float phaseLobe(float cosTheta, float g)
{
    float g2 = g * g;
    float denom = max(1.0 + g2 - 2.0 * g * cosTheta, 1.0e-4);
    return (1.0 - g2) / (12.566 * denom * sqrt(denom));
}

float sunTransmittance(vec3 p, float coverage)
{
    float optical = 0.0;
    float stepLength = 0.18;
    vec3 q = p;
    for (int i = 0; i < LIGHT_STEPS; i++) {
        q += SUN_DIR * stepLength;
        optical += cloudDensity(q, coverageAt(q.xz), false) * stepLength;
        stepLength *= 1.7;
    }
    // Several attenuation octaves stand in for multiple scattering inside the cloud.
    return exp(-optical * 5.0) + 0.35 * exp(-optical * 1.4) + 0.12 * exp(-optical * 0.45);
}

// ---------------------------------------------------------------- camera

vec3 cameraPosition(float t)
{
    return vec3(2.5 * sin(t * 0.21) - 6.0, 5.5 + 0.3 * sin(t * 0.37), t * 0.9);
}

void main()
{
    float aspect = RESOLUTION.x / RESOLUTION.y;
    vec2 uv = (fragCoord * 2.0 - 1.0) * vec2(aspect, 1.0);

    // The heading swings from facing into the sun to seeing the clouds lit from the side.
    float t = inTime;
    vec3 ro = cameraPosition(t);
    float yaw = -0.30 + 0.055 * t;
    float pitch = -0.17 + 0.03 * sin(t * 0.3);
    vec3 forward = vec3(sin(yaw) * cos(pitch), sin(pitch), cos(yaw) * cos(pitch));
    float bank = 0.05 * sin(t * 0.21 + 1.0);
    vec3 worldUp = vec3(sin(bank), cos(bank), 0.0);
    vec3 right = normalize(cross(worldUp, forward));
    vec3 up = cross(forward, right);
    vec3 rd = normalize(forward * 1.85 + right * uv.x + up * uv.y);

    // Section of the ray inside the cloud slab.
    float tEnter = 0.0;
    float tExit = 0.0;
    if (abs(rd.y) > 1.0e-4) {
        float t0 = (CLOUD_BOTTOM - ro.y) / rd.y;
        float t1 = (CLOUD_TOP - ro.y) / rd.y;
        tEnter = max(min(t0, t1), 0.0);
        tExit = min(max(t0, t1), MAX_DISTANCE);
    } else if (ro.y > CLOUD_BOTTOM && ro.y < CLOUD_TOP) {
        tExit = MAX_DISTANCE;
    }

    vec3 background = vec3(0.0);
    float backgroundDistance = MAX_DISTANCE * 3.0;
    if (rd.y < 0.0) {
        backgroundDistance = -ro.y / rd.y;
        background = oceanColor(ro, rd, backgroundDistance);
    } else {
        background = skyColor(rd);
    }

    vec3 scattered = vec3(0.0);
    float transmittance = 1.0;
    float depthSum = 0.0;
    float weightSum = 0.0;
    if (tExit > tEnter) {
        float span = tExit - tEnter;
        float stepLength = max(span / float(VIEW_STEPS), 0.06);
        float jitter = pixelHash(gl_FragCoord.xy);
        float cosTheta = dot(rd, SUN_DIR);
        float phase = mix(phaseLobe(cosTheta, -0.15), phaseLobe(cosTheta, 0.72), 0.45) * 8.0;
        float dist = tEnter + stepLength * jitter;
        for (int i = 0; i < VIEW_STEPS; i++) {
            if (dist > tExit || transmittance < 0.02) {
                break;
            }
            vec3 p = ro + rd * dist;
            float coverage = coverageAt(p.xz);
            float density = cloudDensity(p, coverage, true);
            if (density > 0.0) {
                float h = clamp((p.y - CLOUD_BOTTOM) / (CLOUD_TOP - CLOUD_BOTTOM), 0.0, 1.0);
                float sun = sunTransmittance(p, coverage);
                float powder = 1.0 - 0.75 * exp(-density * 6.0);
                vec3 ambient = mix(vec3(0.08, 0.11, 0.21), vec3(0.20, 0.29, 0.50), h);
                vec3 radiance = SUN_COLOR * sun * phase * powder + ambient;
                float extinction = density * 7.0;
                float stepTransmittance = exp(-extinction * stepLength);
                float weight = transmittance * (1.0 - stepTransmittance);
                scattered += weight * radiance;
                depthSum += weight * dist;
                weightSum += weight;
                transmittance *= stepTransmittance;
            }
            dist += stepLength;
            stepLength *= 1.012;
        }
    }

    // Aerial perspective: the ocean and the clouds each fade into the horizon colour by
    // their own distance (the clouds by their opacity-weighted depth).
    vec3 hazeTint = hazeColor(rd);
    if (rd.y < 0.0) {
        background = mix(background, hazeTint, 1.0 - exp(-backgroundDistance * 0.011));
    }
    if (weightSum > 0.0) {
        float cloudHaze = 1.0 - exp(-(depthSum / weightSum) * 0.016);
        scattered = mix(scattered, hazeTint * weightSum, cloudHaze);
    }
    vec3 col = background * transmittance + scattered;

    // Exposure, a soft shoulder, a touch of contrast, vignette and display gamma.
    col = 1.0 - exp(-col * 1.1);
    col = pow(clamp(col, 0.0, 1.0), vec3(1.0 / 2.2));
    col = mix(col, col * col * (3.0 - 2.0 * col), 0.35);
    vec2 centred = fragCoord - 0.5;
    col *= 1.0 - 0.45 * dot(centred, centred);
    fragColor = vec4(col, 1.0);
}
