#include <cstdint>

// Read by hybrid-graphics drivers: run this program on the discrete GPU.
#if defined(_WIN32)
#define TALLYFORGE_EXPORT __declspec(dllexport)
#else
#define TALLYFORGE_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {
TALLYFORGE_EXPORT std::int32_t NvOptimusEnablement = 1;
TALLYFORGE_EXPORT std::int32_t AmdPowerXpressRequestHighPerformance = 1;
}
