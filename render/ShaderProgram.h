#pragma once
#include <memory>
#include <string>

#include "render/gl.h"
#include "render/math.h"

// A linked GL program, always held through shared ownership; the GL object goes with the
// last reference. Uniform locations are looked up by name at every set: nothing is cached.
class ShaderProgram {
public:
    explicit ShaderProgram(GLuint programHandle) : handle(programHandle) {}
    ~ShaderProgram();
    ShaderProgram(const ShaderProgram&) = delete;
    ShaderProgram& operator=(const ShaderProgram&) = delete;

    void setVec3(const char* name, const Vec3& value) const;
    void setMat4(const char* name, const Mat4& value) const;
    void setInt(const char* name, GLint value) const;
    void setFloat(const char* name, float value) const;

    GLuint handle = 0;
};

// Builds a program from a fragment and a vertex source. The program is returned even when a
// shader does not compile or the link fails (the GL then ignores its use). When failureLog is
// given, the compile and link status are read and the driver's messages are written into it
// on failure (it is left empty on success).
std::shared_ptr<ShaderProgram> buildShaderProgram(const char* fragmentSource, const char* vertexSource,
                                                  std::string* failureLog = nullptr);
