#version 330 core
// Flux Core: a molten energy core held by three counter-rotating gyroscope rings in a dark
// reactor hall. Sphere-traced distance field with a point light at the core, soft shadows,
// ambient occlusion, one reflection bounce and a volumetric halo. The camera flies a scripted
// path of five 4.6 s segments that loops every 23 s.

in vec3 fragPos;
in vec2 fragCoord;

uniform float inTime;

out vec4 fragColor;

const vec2 RESOLUTION = vec2(1280.0, 720.0);
const float PI = 3.14159265;
const float LOOP_SECONDS = 23.0;
const float SEGMENT_COUNT = 5.0;
const float FLOOR_Y = -2.4;
const float PILLAR_RADIUS = 8.5;

const int MAT_NONE = 0;
const int MAT_CORE = 1;
const int MAT_RING = 2;
const int MAT_FLOOR = 3;
const int MAT_PILLAR = 4;

// ---------------------------------------------------------------- helpers

uint scramble(uint x)
{
    x ^= x >> 16u;
    x *= 0x6C8E9CF5u;
    x ^= x >> 13u;
    x *= 0x9E485565u;
    x ^= x >> 16u;
    return x;
}

float pixelHash(vec2 p)
{
    uvec2 u = uvec2(ivec2(p) + ivec2(32768));
    return float(scramble(u.x + scramble(u.y + 0x51ED27u)) >> 8u) * (1.0 / 16777216.0);
}

mat2 rotation(float a)
{
    float c = cos(a);
    float s = sin(a);
    return mat2(c, s, -s, c);
}

float sdBox2(vec2 p, vec2 halfSize)
{
    vec2 d = abs(p) - halfSize;
    return length(max(d, vec2(0.0))) + min(max(d.x, d.y), 0.0);
}

float sdBox3(vec3 p, vec3 halfSize)
{
    vec3 d = abs(p) - halfSize;
    return length(max(d, vec3(0.0))) + min(max(d.x, max(d.y, d.z)), 0.0);
}

// Torus lying in the xz plane with a rounded rectangular cross-section.
float sdRing(vec3 p, float radius, vec2 section)
{
    vec2 q = vec2(length(p.xz) - radius, p.y);
    return sdBox2(q, section) - 0.02;
}

// Angle around the y axis, defined on the axis itself.
float azimuth(vec2 xz)
{
    if (abs(xz.x) + abs(xz.y) < 1.0e-6) {
        return 0.0;
    }
    return atan(xz.y, xz.x);
}

// ---------------------------------------------------------------- animated scene

float loopTime()
{
    return mod(inTime, LOOP_SECONDS);
}

// The three rings turn on different axes so the core is never fully hidden.
vec3 ringSpace(vec3 p, int ring)
{
    float t = inTime;
    if (ring == 0) {
        p.yz = rotation(t * 0.45) * p.yz;
        p.xy = rotation(0.35) * p.xy;
    } else if (ring == 1) {
        p.xy = rotation(t * -0.38 + 1.2) * p.xy;
        p.yz = rotation(1.1) * p.yz;
    } else {
        p.xz = rotation(t * 0.52) * p.xz;
        p.yz = rotation(t * 0.29 + 2.0) * p.yz;
    }
    return p;
}

float coreDistance(vec3 p)
{
    float t = inTime;
    float r = length(p);
    // Slow surface waves from three interfering sines; bounded so the march stays stable.
    float waves = sin(p.x * 4.1 + t * 1.7) * sin(p.y * 3.7 - t * 1.3) * sin(p.z * 4.3 + t * 1.1);
    waves += 0.5 * sin(p.x * 9.0 - t * 2.3 + p.z * 5.0) * sin(p.y * 8.0 + t * 1.9);
    return r - 1.05 - waves * 0.06;
}

float ringDistance(vec3 p, int ring)
{
    vec3 q = ringSpace(p, ring);
    float radius = 1.75 + float(ring) * 0.45;
    float d = sdRing(q, radius, vec2(0.07, 0.17 - float(ring) * 0.03));
    // Notches along the rim: machined segments.
    float a = azimuth(q.xz);
    float notch = abs(fract(a * 24.0 / (2.0 * PI)) - 0.5);
    d += smoothstep(0.44, 0.5, notch) * 0.015;
    return d;
}

// Position in the frame of the nearest of the ten pillars: x points away from the core,
// z runs along the circle; w holds the pillar's index.
vec4 pillarLocal(vec3 p)
{
    float sector = 2.0 * PI / 10.0;
    float a = azimuth(p.xz) + sector * 0.5;
    float index = floor(a / sector);
    float local = a - index * sector - sector * 0.5;
    float r = length(p.xz);
    // The pillar at the seam of the angle gets one index from both sides.
    return vec4(cos(local) * r - PILLAR_RADIUS, p.y, sin(local) * r, mod(index, 10.0));
}

float pillarDistance(vec3 p)
{
    float ringOffset = abs(length(p.xz) - PILLAR_RADIUS);
    if (ringOffset > 1.2) {
        return ringOffset - 0.65;
    }
    vec3 q = pillarLocal(p).xyz;
    // Slightly tapering column with chamfered edges and a recessed light slot facing the core.
    float taper = 0.42 - 0.025 * (q.y - FLOOR_Y);
    vec2 section = abs(q.xz) - vec2(taper);
    float column = max(max(section.x, section.y), (abs(q.x) + abs(q.z)) * 0.7071 - taper * 1.2);
    column = max(column, abs(q.y) - 6.5);
    float slot = sdBox3(q - vec3(-taper, 0.0, 0.0), vec3(0.07, 5.8, 0.09));
    return max(column, -slot);
}

float floorDistance(vec3 p)
{
    return p.y - FLOOR_Y;
}

// Distance and material id of the nearest surface.
vec2 sceneMap(vec3 p)
{
    vec2 best = vec2(coreDistance(p) * 0.8, float(MAT_CORE));
    // Rings only matter inside their bounding sphere.
    float bound = length(p) - 3.0;
    if (bound < best.x) {
        for (int i = 0; i < 3; i++) {
            float d = ringDistance(p, i);
            if (d < best.x) {
                best = vec2(d, float(MAT_RING) + float(i) * 0.1);
            }
        }
    } else {
        // Every ring lies at least 0.2 inside the bound.
        best.x = min(best.x, bound + 0.2);
    }
    float f = floorDistance(p);
    if (f < best.x) {
        best = vec2(f, float(MAT_FLOOR));
    }
    float c = pillarDistance(p);
    if (c < best.x) {
        best = vec2(c, float(MAT_PILLAR));
    }
    return best;
}

float sceneDistance(vec3 p)
{
    return sceneMap(p).x;
}

vec3 sceneNormal(vec3 p)
{
    const float e = 0.0015;
    vec3 n = vec3(0.0);
    n += vec3(1.0, -1.0, -1.0) * sceneDistance(p + vec3(e, -e, -e));
    n += vec3(-1.0, -1.0, 1.0) * sceneDistance(p + vec3(-e, -e, e));
    n += vec3(-1.0, 1.0, -1.0) * sceneDistance(p + vec3(-e, e, -e));
    n += vec3(1.0, 1.0, 1.0) * sceneDistance(p + vec3(e, e, e));
    float len = length(n);
    return len > 1.0e-8 ? n / len : vec3(0.0, 1.0, 0.0);
}

// Marches a ray; returns (distance, material).
vec2 march(vec3 ro, vec3 rd, float maxDist, int maxSteps)
{
    float t = 0.02;
    float material = float(MAT_NONE);
    for (int i = 0; i < 160; i++) {
        if (i >= maxSteps) {
            break;
        }
        vec3 p = ro + rd * t;
        vec2 h = sceneMap(p);
        if (h.x < 0.0008 * t + 0.0005) {
            material = h.y;
            break;
        }
        t += h.x;
        if (t > maxDist) {
            break;
        }
    }
    return vec2(t, material);
}

float softShadow(vec3 p, vec3 toLight, float lightDist)
{
    float result = 1.0;
    float t = 0.05;
    for (int i = 0; i < 40; i++) {
        if (t >= lightDist - 1.2) {
            break;
        }
        vec3 q = p + toLight * t;
        // The core is the light: only rings and pillars cast shadows.
        float d = 1.0e5;
        if (length(q) < 3.0) {
            d = min(min(ringDistance(q, 0), ringDistance(q, 1)), ringDistance(q, 2));
        }
        d = min(d, pillarDistance(q));
        result = min(result, 10.0 * d / t);
        if (result < 0.01) {
            break;
        }
        t += clamp(d, 0.03, 0.6);
    }
    return clamp(result, 0.0, 1.0);
}

float ambientOcclusion(vec3 p, vec3 n)
{
    float occlusion = 0.0;
    float weight = 1.0;
    for (int i = 1; i <= 5; i++) {
        float h = 0.04 * float(i * i);
        occlusion += (h - sceneDistance(p + n * h)) * weight;
        weight *= 0.6;
    }
    return clamp(1.0 - occlusion * 1.6, 0.0, 1.0);
}

vec3 lightIntensity()
{
    float pulse = 0.85 + 0.15 * sin(inTime * 3.1) * sin(inTime * 1.7);
    return vec3(1.0, 0.62, 0.30) * 9.0 * pulse;
}

// Plasma turbulence on the core: self-displacing sines, the domain stretched and mixed per octave.
float plasma(vec3 p)
{
    float t = inTime * 0.9;
    float sum = 0.0;
    float amplitude = 0.5;
    vec3 q = p * 2.2;
    for (int i = 0; i < 4; i++) {
        q += vec3(sin(q.y * 1.3 + t), sin(q.z * 1.7 - t * 0.8), sin(q.x * 1.5 + t * 1.2)) * 0.45;
        sum += amplitude * abs(sin(q.x + q.y * 0.7) * sin(q.z - q.x * 0.4));
        q = vec3(q.z * 1.7 + q.y * 0.4, q.x * 1.6 - q.z * 0.3, q.y * 1.8);
        amplitude *= 0.55;
    }
    return sum;
}

vec3 coreColor(vec3 p)
{
    float veins = 1.0 - clamp(plasma(p) * 1.3, 0.0, 1.0);
    veins = veins * veins;
    vec3 deep = vec3(0.9, 0.12, 0.02);
    vec3 bright = vec3(2.4, 0.95, 0.25);
    vec3 white = vec3(4.0, 3.4, 2.6);
    vec3 col = mix(deep, bright, smoothstep(0.0, 0.35, veins));
    return mix(col, white, smoothstep(0.35, 0.9, veins));
}

float haloPrimitive(float x, float a)
{
    float a2 = a * a;
    return x / (2.0 * a2 * (a2 + x * x)) + atan(x / a) / (2.0 * a2 * a);
}

// Halo of the core integrated in closed form along the ray segment [0, dist]: the
// glow density falls off as 1 / (1 + k r^2)^2 around the centre.
vec3 coreHalo(vec3 ro, vec3 rd, float dist)
{
    const float k = 4.0;
    float b = -dot(ro, rd);
    vec3 closest = ro + rd * b;
    float a = sqrt(1.0 / k + dot(closest, closest));
    float integral = (haloPrimitive(dist - b, a) - haloPrimitive(-b, a)) / (k * k);
    return vec3(1.0, 0.40, 0.10) * integral * 1.2 * lightIntensity();
}

// Embers circling the core on tilted orbits; each adds a point glow where the ray passes
// closest to it, unless a surface is in front.
vec3 embers(vec3 ro, vec3 rd, float dist)
{
    vec3 sum = vec3(0.0);
    for (int i = 0; i < 14; i++) {
        float fi = float(i);
        float speed = 0.5 + 0.37 * fract(fi * 0.618);
        float angle = inTime * speed + fi * 2.4;
        float radius = 2.0 + 1.6 * fract(fi * 0.377);
        vec3 c = vec3(cos(angle) * radius, 0.0, sin(angle) * radius);
        c.xy = rotation(fi * 0.9) * c.xy;
        c.y += 0.6 * sin(inTime * 0.7 + fi);
        float along = dot(c - ro, rd);
        if (along > 0.0 && along < dist) {
            vec3 offset = ro + rd * along - c;
            float d2 = dot(offset, offset);
            float flicker = 0.6 + 0.4 * sin(inTime * 9.0 + fi * 3.1);
            sum += mix(vec3(1.0, 0.55, 0.2), vec3(0.3, 0.9, 1.0), step(0.5, fract(fi * 0.5)))
                   * flicker * 0.0009 / (d2 + 0.0004);
        }
    }
    return sum;
}

// Dark void with a hint of haze, so reflections and misses never end in flat black.
vec3 background(vec3 rd)
{
    float horizon = exp(-abs(rd.y) * 6.0);
    return vec3(0.002, 0.004, 0.010) + vec3(0.018, 0.012, 0.011) * horizon;
}

// Lit colour of a surface point, without reflections.
vec3 shade(vec3 p, vec3 rd, vec3 n, float material, out float reflectivity)
{
    reflectivity = 0.0;
    int mat = int(material + 0.01);
    if (mat == MAT_CORE) {
        float rim = pow(clamp(1.0 - dot(n, -rd), 0.0, 1.0), 2.0);
        return coreColor(p) * (1.0 + rim * 0.8) + vec3(1.5, 0.5, 0.1) * rim;
    }

    vec3 toLight = -p;
    float lightDist = max(length(toLight), 1.0e-3);
    toLight /= lightDist;
    float falloff = 1.0 / (1.0 + lightDist * lightDist * 0.18);
    float diffuse = max(dot(n, toLight), 0.0);
    vec3 halfSum = toLight - rd;
    float halfLength = length(halfSum);
    vec3 halfway = halfLength > 1.0e-6 ? halfSum / halfLength : n;
    float shadow = diffuse > 0.0 ? softShadow(p + n * 0.01, toLight, lightDist) : 0.0;
    float ao = ambientOcclusion(p, n);
    vec3 light = lightIntensity() * falloff * shadow;
    vec3 teal = vec3(0.10, 0.85, 0.95);

    vec3 albedo = vec3(0.5);
    float shininess = 32.0;
    float specularStrength = 0.5;
    vec3 emission = vec3(0.0);

    if (mat == MAT_RING) {
        int ring = int(fract(material) * 10.0 + 0.5);
        vec3 q = ringSpace(p, ring);
        float a = azimuth(q.xz);
        albedo = vec3(0.16, 0.15, 0.14);
        shininess = 90.0;
        specularStrength = 1.6;
        reflectivity = 0.45;
        // Running light strip in the groove of each ring.
        float strip = 1.0 - smoothstep(0.012, 0.03, abs(q.y));
        float run = pow(clamp(0.5 + 0.5 * sin(a * 3.0 - inTime * (3.0 + float(ring))), 0.0, 1.0), 6.0);
        emission = teal * strip * (0.4 + 2.6 * run);
    } else if (mat == MAT_FLOOR) {
        vec2 xz = p.xz;
        float r = length(xz);
        float a = azimuth(xz);
        // Polar tiling: concentric bands and radial seams.
        float band = abs(fract(r * 0.5) - 0.5);
        float spokes = abs(fract(a * 16.0 / (2.0 * PI)) - 0.5) * r * 2.0 * PI / 16.0;
        float seam = min(smoothstep(0.01, 0.04, band), smoothstep(0.02, 0.08, spokes));
        float tile = pixelHash(vec2(floor(r * 0.5) * 37.0, floor(a * 16.0 / (2.0 * PI) + 16.0)));
        albedo = mix(vec3(0.025, 0.025, 0.03), vec3(0.06, 0.055, 0.05), tile);
        shininess = 60.0;
        specularStrength = 0.9;
        reflectivity = 0.45 * seam;
        // Energy pulses run outward along the seams.
        float wave = pow(clamp(0.5 + 0.5 * sin(r * 1.6 - inTime * 4.0), 0.0, 1.0), 8.0);
        float fade = exp(-r * 0.16);
        emission = teal * (1.0 - seam) * (0.15 + 1.8 * wave) * fade;
        emission += vec3(1.0, 0.5, 0.15) * (1.0 - seam) * 0.4 * exp(-r * 0.6);
    } else if (mat == MAT_PILLAR) {
        vec4 q = pillarLocal(p);
        albedo = vec3(0.09, 0.09, 0.10);
        shininess = 40.0;
        specularStrength = 0.7;
        reflectivity = 0.12;
        // Light climbing the slot, and thin bands circling the column.
        float taper = 0.42 - 0.025 * (q.y - FLOOR_Y);
        float inSlot = (1.0 - smoothstep(0.05, 0.09, abs(q.z))) * step(q.x, -taper + 0.075);
        float climb = fract(q.y * 0.18 - inTime * 0.5 + q.w * 0.37);
        float pulse = smoothstep(0.75, 0.98, climb) * (1.0 - smoothstep(0.98, 1.0, climb));
        float bands = 1.0 - smoothstep(0.015, 0.03, abs(fract(q.y * 0.5 + 0.25) - 0.5));
        emission = teal * inSlot * (0.5 + 4.0 * pulse) + vec3(1.0, 0.5, 0.2) * bands * 0.35;
    }

    float specular = pow(max(dot(n, halfway), 0.0), shininess) * specularStrength;
    vec3 ambient = vec3(0.03, 0.04, 0.06) * ao * (0.6 + 0.4 * n.y);
    return albedo * (light * diffuse + ambient) + light * specular * diffuse + emission * ao;
}

// ---------------------------------------------------------------- camera script

vec3 cameraKey(int i)
{
    if (i == 0) return vec3(0.5, 0.4, -6.9);
    if (i == 1) return vec3(5.6, 0.0, -3.0);
    if (i == 2) return vec3(3.0, 5.0, 4.0);
    if (i == 3) return vec3(-2.6, 0.2, 3.0);
    return vec3(-5.8, -1.4, -2.6);
}

vec3 targetKey(int i)
{
    if (i == 0) return vec3(0.0, 0.0, 0.0);
    if (i == 1) return vec3(0.0, -0.3, 0.0);
    if (i == 2) return vec3(0.0, -1.0, 0.0);
    if (i == 3) return vec3(0.5, 0.0, -1.0);
    return vec3(0.0, 0.6, 0.0);
}

vec3 catmullRom(vec3 a, vec3 b, vec3 c, vec3 d, float u)
{
    float u2 = u * u;
    float u3 = u2 * u;
    return 0.5 * ((2.0 * b) + (c - a) * u + (2.0 * a - 5.0 * b + 4.0 * c - d) * u2
                  + (3.0 * b - a - 3.0 * c + d) * u3);
}

void cameraAt(float t, out vec3 position, out vec3 target)
{
    float segmentLength = LOOP_SECONDS / SEGMENT_COUNT;
    float s = t / segmentLength;
    int k = int(floor(s));
    float u = s - float(k);
    int count = int(SEGMENT_COUNT);
    int i0 = (k + count - 1) - ((k + count - 1) / count) * count;
    int i1 = k - (k / count) * count;
    int i2 = (k + 1) - ((k + 1) / count) * count;
    int i3 = (k + 2) - ((k + 2) / count) * count;
    position = catmullRom(cameraKey(i0), cameraKey(i1), cameraKey(i2), cameraKey(i3), u);
    target = catmullRom(targetKey(i0), targetKey(i1), targetKey(i2), targetKey(i3), u);
}

void main()
{
    float aspect = RESOLUTION.x / RESOLUTION.y;
    vec2 uv = vec2(fragPos.x * aspect, fragPos.y);

    vec3 ro = vec3(0.0);
    vec3 target = vec3(0.0);
    cameraAt(loopTime(), ro, target);
    vec3 forward = normalize(target - ro);
    vec3 side = cross(vec3(0.0, 1.0, 0.0), forward);
    vec3 right = length(side) > 1.0e-4 ? normalize(side) : vec3(1.0, 0.0, 0.0);
    vec3 up = cross(forward, right);
    vec3 rd = normalize(forward * 1.5 + right * uv.x + up * uv.y);

    vec2 hit = march(ro, rd, 40.0, 140);
    vec3 col = vec3(0.0);
    if (hit.y > 0.5) {
        vec3 p = ro + rd * hit.x;
        vec3 n = sceneNormal(p);
        float reflectivity = 0.0;
        col = shade(p, rd, n, hit.y, reflectivity);
        if (reflectivity > 0.0) {
            vec3 rr = reflect(rd, n);
            float fresnel = reflectivity + (1.0 - reflectivity) * pow(clamp(1.0 - dot(n, -rd), 0.0, 1.0), 5.0);
            vec2 reflHit = march(p + n * 0.02, rr, 25.0, 70);
            vec3 reflCol = background(rr);
            if (reflHit.y > 0.5) {
                vec3 rp = p + n * 0.02 + rr * reflHit.x;
                vec3 rn = sceneNormal(rp);
                int rmat = int(reflHit.y + 0.01);
                if (rmat == MAT_CORE) {
                    reflCol = coreColor(rp);
                } else {
                    // Cheap shading for what is seen in a reflection: light, no shadows.
                    vec3 toLight = normalize(-rp);
                    float fall = 1.0 / (1.0 + dot(rp, rp) * 0.18);
                    reflCol = vec3(0.1) * lightIntensity() * fall * max(dot(rn, toLight), 0.0);
                }
            }
            reflCol += coreHalo(p, rr, reflHit.x);
            col += reflCol * fresnel * 0.6;
        }
        // Distance haze.
        col = mix(col, background(rd), 1.0 - exp(-hit.x * 0.02));
    } else {
        col = background(rd);
    }
    col += coreHalo(ro, rd, hit.x) + embers(ro, rd, hit.x);

    // Tone curve, vignette, gamma, a whisper of dither against banding.
    col = 1.0 - exp(-col * 1.2);
    vec2 centred = fragCoord - 0.5;
    col *= 1.0 - 0.6 * dot(centred, centred);
    col = pow(clamp(col, 0.0, 1.0), vec3(1.0 / 2.2));
    col += (pixelHash(fragCoord * RESOLUTION) - 0.5) / 255.0;
    fragColor = vec4(col, 1.0);
}
