#pragma once
// Data compiled into the program (see assets/CMakeLists.txt). Every array is followed by
// a zero byte, so the shader sources can be used as C strings.
#include <cstddef>
#include <string_view>

extern const unsigned char uiFont[];            // Open Sans Regular, TrueType
extern const std::size_t uiFontSize;
extern const unsigned char backgroundImage[];   // 1280 x 720 PNG
extern const std::size_t backgroundImageSize;
extern const unsigned char logoImage[];         // 283 x 50 PNG
extern const std::size_t logoImageSize;
extern const unsigned char modelVertexShaderData[];
extern const unsigned char materialFragmentShaderData[];
extern const unsigned char fluxCoreShaderData[];
extern const unsigned char electronShaderData[];
extern const unsigned char cityShaderData[];
extern const unsigned char cloudsShaderData[];
extern const unsigned char sceneCreditsData[];  // one line per scene
extern const unsigned char digestSalt[];        // 1024 bytes shared with the result service
extern const std::size_t digestSaltSize;

inline const char* asText(const unsigned char* data) { return reinterpret_cast<const char*>(data); }

// The fragment shader of the scene with this key (the scene table in core/protocol.h), or
// nullptr.
inline const char* sceneShader(std::string_view key) {
    if (key == "flux_core") return asText(fluxCoreShaderData);
    if (key == "electron") return asText(electronShaderData);
    if (key == "city") return asText(cityShaderData);
    if (key == "clouds") return asText(cloudsShaderData);
    return nullptr;
}

inline const char* const modelVertexShader = asText(modelVertexShaderData);
inline const char* const materialFragmentShader = asText(materialFragmentShaderData);
