#include "app/gl_strings.h"

#include <glad/gl.h>

GlGpuInfo readGlGpuInfo() {
    const auto text = [](GLenum name) -> std::string {
        if (!glad_glGetString) return {};  // entry points not loaded: no context
        const GLubyte* s = glGetString(name);
        return s ? std::string(reinterpret_cast<const char*>(s)) : std::string();
    };
    GlGpuInfo info;
    info.vendor = text(GL_VENDOR);
    info.renderer = text(GL_RENDERER);
    return info;
}
