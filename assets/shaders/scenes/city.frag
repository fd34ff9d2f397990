#version 330 core
// City: a dusk flight down an avenue that climbs above the rooftops towards downtown.
// The city is an endless grid of lots, each holding one hashed building. Rays walk the grid
// lot by lot and test each building exactly; a distance bound of the same grid serves the
// contact shadows. Windows, shop fronts, street lamps and traffic are shaded from patterns
// filtered by their on-screen size, to keep distant facades from shimmering.

in vec3 fragNormal;
in vec3 fragPos;
in vec2 fragCoord;

uniform float inTime;
uniform int iFrame;

out vec4 fragColor;

const vec2 RESOLUTION = vec2(1280.0, 720.0);
const float LOT = 7.0;            // lot size in x and z
const float MARGIN = 0.6;         // every building keeps this far from its lot border
const float MAX_HEIGHT = 46.0;    // no roof, spire or antenna is taller
const float FAR = 600.0;
const float FOCAL = 1.55;
const vec3 DOWNTOWN = vec3(3.5, 0.0, 230.0);
const vec3 MOON_DIR = vec3(-0.3737, 0.3737, 0.8491);

// ---------------------------------------------------------------- hashing

uint scramble(uint x)
{
    x ^= x >> 16u;
    x *= 0x45D9F3B5u;
    x ^= x >> 14u;
    x *= 0x2C1B3C6Du;
    x ^= x >> 15u;
    return x;
}

// Lot and window indices are offset to stay positive before the unsigned conversion.
uint hash3(ivec3 c)
{
    uvec3 u = uvec3(c + ivec3(65536));
    return scramble(u.x * 0x8DA6B343u + u.y * 0xD8163841u + u.z * 0xCB1AB31Fu);
}

float toUnit(uint h)
{
    return float(h >> 8u) * (1.0 / 16777216.0);
}

float hash31(ivec3 c)
{
    return toUnit(hash3(c));
}

// ---------------------------------------------------------------- the grid of lots

// Integer arithmetic keeps the street pattern exact; the offset (a multiple of 4 and 5)
// keeps the operands of % positive.
bool isAvenue(vec2 lot)
{
    return (int(lot.x) + 4000) % 4 == 0;
}

bool isCrossStreet(vec2 lot)
{
    return (int(lot.y) + 4000) % 5 == 0;
}

bool isStreetLot(vec2 lot)
{
    return isAvenue(lot) || isCrossStreet(lot);
}

// x, z: half footprint; y: height; w: upper tier share (0 = single block).
vec4 buildingShape(vec2 lot)
{
    ivec3 id = ivec3(int(lot.x), int(lot.y), 7);
    float r0 = hash31(id);
    float r1 = hash31(id + ivec3(0, 0, 1));
    float r2 = hash31(id + ivec3(0, 0, 2));
    float r3 = hash31(id + ivec3(0, 0, 3));
    vec2 centre = (lot + 0.5) * LOT;
    float downtown = exp(-length(centre - DOWNTOWN.xz) / 90.0);
    float height = 3.0 + 9.0 * r0 * r0 + 24.0 * downtown * (0.4 + 0.6 * r1);
    if (r2 > 0.93) {
        height += 10.0;
    }
    height = min(height, MAX_HEIGHT - 6.0);
    vec2 footprint = vec2(1.9 + 0.9 * r1, 1.9 + 0.9 * r3);
    float tier = height > 14.0 ? 0.55 + 0.25 * r2 : 0.0;
    return vec4(footprint.x, height, footprint.y, tier);
}

float sdBox(vec3 p, vec3 halfSize)
{
    vec3 d = abs(p) - halfSize;
    return length(max(d, vec3(0.0))) + min(max(d.x, max(d.y, d.z)), 0.0);
}

float buildingDistance(vec3 local, vec4 shape)
{
    float height = shape.y;
    if (shape.w <= 0.0) {
        return sdBox(local - vec3(0.0, height * 0.5, 0.0), vec3(shape.x, height * 0.5, shape.z));
    }
    float lower = height * shape.w;
    float d = sdBox(local - vec3(0.0, lower * 0.5, 0.0), vec3(shape.x, lower * 0.5, shape.z));
    vec2 upperHalf = shape.xz * 0.68;
    d = min(d, sdBox(local - vec3(0.0, (lower + height) * 0.5, 0.0),
                     vec3(upperHalf.x, (height - lower) * 0.5, upperHalf.y)));
    // A thin mast on top.
    vec3 m = local - vec3(0.0, height, 0.0);
    d = min(d, max(length(m.xz) - 0.06, abs(m.y - 2.5) - 2.5));
    return d;
}

// Distance to the scene: the ground, this lot's building, and a bound for all the others.
float sceneDistance(vec3 p)
{
    vec2 lot = floor(p.xz / LOT);
    vec2 inLot = p.xz - (lot + 0.5) * LOT;
    vec2 toBorder = LOT * 0.5 - abs(inLot);
    float others = max(min(toBorder.x, toBorder.y) + MARGIN, p.y - MAX_HEIGHT);
    float d = min(p.y, others);
    if (!isStreetLot(lot)) {
        d = min(d, buildingDistance(vec3(inLot.x, p.y, inLot.y), buildingShape(lot)));
    }
    return d;
}

// Ray against an axis-aligned box; on a hit gives the entry distance and the face normal.
bool boxHit(vec3 ro, vec3 rd, vec3 invRd, vec3 lo, vec3 hi, out float tNear, out vec3 normal)
{
    vec3 t0 = (lo - ro) * invRd;
    vec3 t1 = (hi - ro) * invRd;
    vec3 tMin = min(t0, t1);
    vec3 tMax = max(t0, t1);
    tNear = max(max(tMin.x, tMin.y), tMin.z);
    float tFar = min(min(tMax.x, tMax.y), tMax.z);
    normal = vec3(0.0, 1.0, 0.0);
    if (tFar < max(tNear, 0.0) || tNear < 0.0) {
        return false;
    }
    if (tNear == tMin.x) {
        normal = vec3(-sign(rd.x), 0.0, 0.0);
    } else if (tNear == tMin.z) {
        normal = vec3(0.0, 0.0, -sign(rd.z));
    } else {
        normal = vec3(0.0, -sign(rd.y), 0.0);
    }
    return true;
}

float awayFromZero(float x)
{
    return abs(x) < 1.0e-7 ? (x < 0.0 ? -1.0e-7 : 1.0e-7) : x;
}

// Walks the grid lot by lot along the ray and tests each lot's building exactly.
// Returns the hit distance (FAR on a miss) with the surface normal and the lot.
float traceCity(vec3 ro, vec3 rd, out vec3 normal, out vec2 hitLot)
{
    normal = vec3(0.0, 1.0, 0.0);
    hitLot = vec2(0.0);
    vec3 invRd = 1.0 / vec3(awayFromZero(rd.x), awayFromZero(rd.y), awayFromZero(rd.z));
    float tGround = rd.y < 0.0 ? -ro.y / rd.y : FAR;
    vec2 lot = floor(ro.xz / LOT);
    vec2 dirSign = vec2(rd.x >= 0.0 ? 1.0 : -1.0, rd.z >= 0.0 ? 1.0 : -1.0);
    vec2 tDelta = abs(LOT * invRd.xz);
    vec2 tBorder = ((lot + max(dirSign, vec2(0.0))) * LOT - ro.xz) * invRd.xz;
    float tEnter = 0.0;
    for (int i = 0; i < 200; i++) {
        if (tEnter > tGround || tEnter > FAR) {
            break;
        }
        if (ro.y + rd.y * tEnter > MAX_HEIGHT && rd.y >= 0.0) {
            return FAR;
        }
        if (!isStreetLot(lot)) {
            vec4 shape = buildingShape(lot);
            vec2 centre = (lot + 0.5) * LOT;
            float best = FAR;
            vec3 bestNormal = vec3(0.0, 1.0, 0.0);
            float tHit = 0.0;
            vec3 n = vec3(0.0);
            float lower = shape.w > 0.0 ? shape.y * shape.w : shape.y;
            if (boxHit(ro, rd, invRd, vec3(centre.x - shape.x, 0.0, centre.y - shape.z),
                       vec3(centre.x + shape.x, lower, centre.y + shape.z), tHit, n)) {
                best = tHit;
                bestNormal = n;
            }
            if (shape.w > 0.0) {
                vec2 upperHalf = shape.xz * 0.68;
                if (boxHit(ro, rd, invRd, vec3(centre.x - upperHalf.x, lower, centre.y - upperHalf.y),
                           vec3(centre.x + upperHalf.x, shape.y, centre.y + upperHalf.y), tHit, n) && tHit < best) {
                    best = tHit;
                    bestNormal = n;
                }
                if (boxHit(ro, rd, invRd, vec3(centre.x - 0.06, shape.y, centre.y - 0.06),
                           vec3(centre.x + 0.06, shape.y + 5.0, centre.y + 0.06), tHit, n) && tHit < best) {
                    best = tHit;
                    bestNormal = n;
                }
            }
            if (best < FAR) {
                normal = bestNormal;
                hitLot = lot;
                return best;
            }
        }
        if (tBorder.x < tBorder.y) {
            tEnter = tBorder.x;
            tBorder.x += tDelta.x;
            lot.x += dirSign.x;
        } else {
            tEnter = tBorder.y;
            tBorder.y += tDelta.y;
            lot.y += dirSign.y;
        }
    }
    if (tGround < FAR) {
        hitLot = floor((ro.xz + rd.xz * tGround) / LOT);
        return tGround;
    }
    return FAR;
}

// ---------------------------------------------------------------- sky

vec3 skyColor(vec3 rd)
{
    float up = max(rd.y, 0.0);
    vec3 zenith = vec3(0.010, 0.018, 0.060);
    vec3 mid = vec3(0.060, 0.050, 0.160);
    vec3 horizon = vec3(0.30, 0.11, 0.09);
    vec3 sky = mix(mid, zenith, smoothstep(0.0, 0.55, up));
    sky = mix(sky, horizon, exp(-up * 10.0));
    // The last light of the day lingers on one side.
    float dusk = max(dot(normalize(vec3(rd.x, 0.0, rd.z) + vec3(0.0, 1.0e-3, 0.0)), vec3(0.8, 0.0, 0.6)), 0.0);
    sky += vec3(0.30, 0.12, 0.04) * dusk * dusk * exp(-up * 5.0);
    // Moon and its halo.
    float moon = dot(rd, MOON_DIR);
    sky += vec3(0.9, 0.95, 1.0) * 1.6 * smoothstep(0.99955, 0.99975, moon);
    sky += vec3(0.20, 0.24, 0.35) * pow(max(moon, 0.0), 200.0) * 0.5;
    // Stars, fixed in direction.
    vec3 cell = floor(rd * 220.0);
    uint h = hash3(ivec3(cell));
    vec3 centre = normalize(cell + 0.5);
    if ((h & 255u) < 3u && floor(centre * 220.0) == cell) {
        float dist = length(rd - centre) * 220.0;
        sky += vec3(0.8, 0.85, 1.0) * 0.6 * exp(-dist * dist * 10.0) * smoothstep(0.05, 0.3, up);
    }
    return sky;
}

vec3 fogColor(vec3 rd)
{
    float dusk = max(dot(normalize(vec3(rd.x, 0.0, rd.z) + vec3(0.0, 1.0e-3, 0.0)), vec3(0.8, 0.0, 0.6)), 0.0);
    return mix(vec3(0.030, 0.032, 0.070), vec3(0.17, 0.070, 0.035), dusk * dusk);
}

// ---------------------------------------------------------------- shading

// Share of a [0, 1) cell covered by the window span [lo, hi], box-filtered by the footprint.
float filteredSpan(float x, float lo, float hi, float footprint)
{
    float w = max(footprint, 0.02);
    float a = clamp((x - lo) / w + 0.5, 0.0, 1.0);
    float b = clamp((hi - x) / w + 0.5, 0.0, 1.0);
    float sharp = a * b;
    // Past a pixel per cell, fade to the average coverage.
    return mix(sharp, hi - lo, smoothstep(0.3, 0.9, footprint));
}

vec3 facadeColor(vec3 p, vec3 n, vec2 lot, vec4 shape, float footprint, vec3 rd)
{
    vec2 inLot = p.xz - (lot + 0.5) * LOT;
    bool alongX = abs(n.z) > abs(n.x);
    float u = alongX ? inLot.x : inLot.y;
    float face = alongX ? sign(n.z) : 2.0 * sign(n.x);
    ivec3 id = ivec3(int(lot.x), int(lot.y), 11);
    float style = hash31(id);
    float floorHeight = 0.62 + 0.2 * hash31(id + ivec3(0, 0, 1));
    float columnWidth = 0.55 + 0.35 * hash31(id + ivec3(0, 0, 2));
    float litShare = 0.08 + 0.42 * hash31(id + ivec3(0, 0, 3));

    vec2 g = vec2(u / columnWidth, p.y / floorHeight);
    vec2 cell = floor(g);
    vec2 f = g - cell;
    vec2 fw = vec2(footprint / columnWidth, footprint / floorHeight);
    float gap = 0.14 + 0.16 * hash31(id + ivec3(0, 0, 4));
    float mask = filteredSpan(f.x, gap, 1.0 - gap, fw.x) * filteredSpan(f.y, 0.25, 0.8, fw.y);

    ivec3 wid = ivec3(int(cell.x) + int(face * 97.0), int(cell.y), int(lot.x) * 131 + int(lot.y) * 71);
    uint wh = hash3(wid);
    float r = toUnit(wh);
    // Now and then a window switches on or off.
    float flickerSeed = toUnit(scramble(wh + uint(floor(inTime * 0.35 + r * 7.0))));
    float lit = step(r, litShare) * step(0.04, flickerSeed);
    // Averaged windows far away keep the mean brightness of their facade.
    lit = mix(lit, litShare, smoothstep(0.3, 0.9, max(fw.x, fw.y)));
    float warmth = toUnit(scramble(wh ^ 0x5bd1e995u));
    vec3 warm = vec3(1.00, 0.52, 0.18);
    vec3 cool = vec3(0.50, 0.72, 1.00);
    vec3 windowLight = mix(warm, cool, step(0.78, warmth) * (0.4 + 0.6 * style));
    windowLight = mix(windowLight, vec3(1.0, 0.85, 0.6), step(0.93, warmth)) * (0.35 + 1.0 * fract(r * 13.7));

    vec3 wall = mix(vec3(0.005, 0.006, 0.009), vec3(0.011, 0.009, 0.009), style);
    vec3 glass = vec3(0.001, 0.0015, 0.004) + skyColor(reflect(rd, n)) * 0.035;
    vec3 col = mix(wall, glass, mask * 0.85);
    col += windowLight * lit * mask * 1.6;

    // Shop fronts glow at street level.
    float shopFrame = filteredSpan(fract(u / 2.3), 0.08, 0.92, footprint / 2.3);
    float shop = (1.0 - smoothstep(1.0, 1.2, p.y)) * step(0.25, p.y) * shopFrame;
    vec3 shopColour = mix(vec3(1.0, 0.45, 0.15), vec3(0.25, 0.55, 1.0), step(0.6, style));
    shopColour = mix(shopColour, vec3(1.0, 0.2, 0.55), step(0.85, style));
    // Inside the shop: brighter towards the ceiling, a dark counter band below.
    float interior = 0.35 + 0.65 * smoothstep(0.3, 1.1, p.y);
    col = mix(col, shopColour * 0.32 * interior, shop * 0.85);
    // A neon sign line above every second shop front.
    float signOffset = (p.y - 1.32) / max(footprint, 0.015);
    float signLine = exp(-signOffset * signOffset) * step(0.5, fract(u / 4.6));
    col += shopColour * signLine * 1.2;

    // Light spilling up from the street.
    col += vec3(0.30, 0.14, 0.05) * exp(-p.y * 0.45) * 0.06;
    return col;
}

vec3 roofColor(vec3 p, vec2 lot, vec4 shape)
{
    vec3 col = vec3(0.006, 0.006, 0.008);
    // Blinking warning light on the tall ones.
    vec2 inLot = p.xz - (lot + 0.5) * LOT;
    if (shape.y > 20.0) {
        float blink = step(0.5, fract(inTime * 0.8 + hash31(ivec3(int(lot.x), int(lot.y), 5))));
        col += vec3(1.0, 0.1, 0.05) * blink * 4.0 * exp(-dot(inLot, inLot) * 3.0) * step(shape.y + 4.5, p.y);
    }
    return col;
}

// Street: asphalt with lamp pools, lane marks and long-exposure traffic streaks.
vec3 streetColor(vec3 p, float footprint)
{
    vec3 col = vec3(0.004, 0.004, 0.006);
    vec2 lot = floor(p.xz / LOT);
    vec2 inLot = p.xz - (lot + 0.5) * LOT;
    bool avenue = isAvenue(lot);
    bool crossing = isCrossStreet(lot);
    if (!avenue && !crossing) {
        // Pavement between buildings.
        return vec3(0.010, 0.009, 0.009) + vec3(0.28, 0.13, 0.05) * 0.04;
    }
    // Traffic runs along the avenue (z) or the cross street (x).
    float across = avenue ? inLot.x : inLot.y;
    float along = avenue ? p.z : p.x;
    float laneWidth = max(footprint * 1.5, 0.08);
    vec3 traffic = vec3(0.0);
    for (int lane = 0; lane < 2; lane++) {
        float side = lane == 0 ? -1.0 : 1.0;
        float offset = across - side * 1.3;
        float laneMask = exp(-offset * offset / (laneWidth * laneWidth));
        float speed = 11.0 * side;
        float s = (along - inTime * speed) / 9.0;
        float carCell = floor(s);
        float carPos = fract(s);
        float exists = step(0.35, hash31(ivec3(int(carCell), int(lot.x) + lane * 17, int(lot.y))));
        float streak = smoothstep(0.0, 0.45, carPos) * (1.0 - smoothstep(0.45, 0.5, carPos));
        vec3 tone = side > 0.0 ? vec3(1.0, 0.85, 0.65) : vec3(1.0, 0.08, 0.04);
        traffic += tone * laneMask * streak * exists * 2.5;
    }
    col += traffic;
    // Lane divider.
    float divider = exp(-across * across / (max(footprint, 0.04) * max(footprint, 0.04))) * 0.08;
    col += vec3(0.9, 0.7, 0.3) * divider * step(0.5, fract(along * 0.25));
    // Sodium lamp pools along both kerbs.
    float lampAlong = fract(along / 12.0) - 0.5;
    float kerb = abs(across) - 3.1;
    float pool = exp(-(lampAlong * lampAlong * 144.0 + kerb * kerb) * 0.18);
    col += vec3(1.0, 0.50, 0.16) * pool * 0.25;
    return col;
}

// Lit colour of the surface hit at distance t; footprint is the size of the pixel there.
vec3 shade(vec3 ro, vec3 rd, float t, vec3 n, vec2 lot, float footprint)
{
    vec3 p = ro + rd * t;
    vec3 col = vec3(0.0);
    if (p.y < 0.01 || isStreetLot(lot)) {
        col = streetColor(p, footprint);
        // Wet asphalt picks up a little of the sky and the haze.
        float fres = pow(clamp(1.0 + rd.y, 0.0, 1.0), 4.0);
        col += fogColor(rd) * fres * 0.3;
    } else {
        vec4 shape = buildingShape(lot);
        if (n.y > 0.6) {
            col = roofColor(p, lot, shape);
        } else {
            col = facadeColor(p, n, lot, shape, footprint, rd);
        }
        // Moonlight and sky light on the surfaces.
        col += vec3(0.04, 0.05, 0.09) * (0.5 + 0.5 * n.y) * 0.06;
        col += vec3(0.05, 0.06, 0.10) * max(dot(n, MOON_DIR), 0.0) * 0.08;
    }
    // Contact darkening where walls meet the ground and where a tower rises from its base.
    float ao = clamp(sceneDistance(p + n * 0.4) / 0.4, 0.0, 1.0);
    col *= 0.55 + 0.45 * ao;
    return col;
}

// ---------------------------------------------------------------- camera

void cameraAt(float t, out vec3 position, out vec3 forward)
{
    float rise = smoothstep(6.0, 21.0, t);
    float z = t * 7.5 - 20.0;
    position = vec3(3.5 + 0.8 * sin(t * 0.35), 4.5 + 28.0 * rise * rise + 0.3 * sin(t * 0.9), z);
    float yaw = 0.10 * sin(t * 0.23 + 0.4);
    float pitch = 0.05 - 0.28 * rise;
    forward = vec3(sin(yaw) * cos(pitch), sin(pitch), cos(yaw) * cos(pitch));
}

vec3 background(vec3 rd)
{
    return mix(skyColor(rd), fogColor(rd), exp(-max(rd.y, 0.0) * 14.0) * 0.9);
}

// Height-weighted haze: thick at street level, thinner above the roofs.
vec3 addFog(vec3 col, vec3 rd, float t, float height)
{
    float fogAmount = 1.0 - exp(-t * 0.0075 * (0.35 + 0.65 * exp(-max(height, 0.0) * 0.04)));
    return mix(col, fogColor(rd), fogAmount);
}

vec3 render(vec3 ro, vec3 rd, float pixelAngle)
{
    vec3 n = vec3(0.0);
    vec2 lot = vec2(0.0);
    float t = traceCity(ro, rd, n, lot);
    if (t >= FAR) {
        return background(rd);
    }
    vec3 p = ro + rd * t;
    vec3 col = shade(ro, rd, t, n, lot, t * pixelAngle);
    if (p.y < 0.01) {
        // Wet asphalt mirrors the lit city, broken up by a gentle ripple.
        vec2 ripple = 0.025 * vec2(sin(p.x * 3.1 + sin(p.z * 1.7)), sin(p.z * 2.3 + sin(p.x * 1.3)));
        vec3 rn = normalize(vec3(ripple.x, 1.0, ripple.y));
        vec3 rr = reflect(rd, rn);
        rr.y = max(rr.y, 0.002);
        rr = normalize(rr);
        float fresnel = 0.04 + 0.96 * pow(clamp(1.0 + rd.y, 0.0, 1.0), 5.0);
        float wet = isStreetLot(lot) ? 0.85 : 0.45;
        vec3 n2 = vec3(0.0);
        vec2 lot2 = vec2(0.0);
        vec3 origin = p + vec3(0.0, 0.01, 0.0);
        float t2 = traceCity(origin, rr, n2, lot2);
        vec3 reflected = vec3(0.0);
        if (t2 < FAR) {
            reflected = shade(origin, rr, t2, n2, lot2, (t + t2) * pixelAngle);
            reflected = addFog(reflected, rr, t2, origin.y + rr.y * t2);
        } else {
            reflected = background(rr);
        }
        col += reflected * fresnel * wet;
    }
    return addFog(col, rd, t, p.y);
}

void main()
{
    float aspect = RESOLUTION.x / RESOLUTION.y;
    vec2 uv = vec2(fragPos.x * aspect, fragPos.y);

    vec3 ro = vec3(0.0);
    vec3 forward = vec3(0.0);
    cameraAt(inTime, ro, forward);
    float roll = 0.04 * sin(inTime * 0.35);
    vec3 worldUp = vec3(sin(roll), cos(roll), 0.0);
    vec3 right = normalize(cross(worldUp, forward));
    vec3 up = cross(forward, right);

    // Four rays per pixel on a rotated grid: the window patterns stay clean at a distance.
    vec2 pixelSize = vec2(abs(dFdx(fragPos.x)) * aspect, abs(dFdy(fragPos.y)));
    if (pixelSize.y <= 0.0) {
        pixelSize = vec2(2.0) / RESOLUTION.y;
    }
    float pixelAngle = 0.5 * pixelSize.y / FOCAL;
    vec3 col = vec3(0.0);
    for (int i = 0; i < 4; i++) {
        vec2 offset = i == 0 ? vec2(0.125, 0.375) : i == 1 ? vec2(-0.375, 0.125)
                    : i == 2 ? vec2(-0.125, -0.375) : vec2(0.375, -0.125);
        vec2 suv = uv + offset * pixelSize;
        vec3 rd = normalize(forward * FOCAL + right * suv.x + up * suv.y);
        col += render(ro, rd, pixelAngle);
    }
    col *= 0.25;

    // Tone curve, vignette, gamma and a dither against banding in the sky.
    col = 1.0 - exp(-col * 1.4);
    vec2 centred = fragCoord - 0.5;
    col *= 1.0 - 0.5 * dot(centred, centred);
    col = pow(clamp(col, 0.0, 1.0), vec3(1.0 / 2.2));
    col = mix(col, col * col * (3.0 - 2.0 * col), 0.45);
    uvec2 pixel = uvec2(ivec2(fragCoord * RESOLUTION) + ivec2(32768));
    uint frameSeed = uint(max(iFrame, 0));
    float dither = toUnit(scramble(pixel.x * 0x9E3779B1u + scramble(pixel.y + frameSeed)));
    col += (dither - 0.5) / 255.0;
    fragColor = vec4(col, 1.0);
}
