#include "render/ShaderProgram.h"

#include <vector>

ShaderProgram::~ShaderProgram() { glDeleteProgram(handle); }

void ShaderProgram::setVec3(const char* name, const Vec3& value) const {
    const float v[3] = {value.x, value.y, value.z};
    glUniform3fv(glGetUniformLocation(handle, name), 1, v);
}

void ShaderProgram::setMat4(const char* name, const Mat4& value) const {
    glUniformMatrix4fv(glGetUniformLocation(handle, name), 1, GL_FALSE, value.data());
}

void ShaderProgram::setInt(const char* name, GLint value) const {
    glUniform1i(glGetUniformLocation(handle, name), value);
}

void ShaderProgram::setFloat(const char* name, float value) const {
    glUniform1f(glGetUniformLocation(handle, name), value);
}

namespace {

// Deletes the shader objects however the build ends: they are never kept.
struct ShaderObject {
    GLuint name = 0;
    ShaderObject(GLenum type, const char* source) : name(glCreateShader(type)) {
        glShaderSource(name, 1, &source, nullptr);
        glCompileShader(name);
    }
    ~ShaderObject() { glDeleteShader(name); }
    ShaderObject(const ShaderObject&) = delete;
    ShaderObject& operator=(const ShaderObject&) = delete;
};

// Shader and program objects report their status and log through look-alike calls.
void appendFailureLog(GLuint object, GLenum statusName, PFNGLGETSHADERIVPROC getIv,
                      PFNGLGETSHADERINFOLOGPROC getInfoLog, const std::string& what, std::string& log) {
    GLint ok = GL_FALSE;
    getIv(object, statusName, &ok);
    if (ok == GL_TRUE) return;
    GLint length = 0;
    getIv(object, GL_INFO_LOG_LENGTH, &length);
    std::vector<char> text(static_cast<std::size_t>(length > 0 ? length : 1), '\0');
    getInfoLog(object, static_cast<GLsizei>(text.size()), nullptr, text.data());
    log += what + text.data() + "\n";
}

}  // namespace

std::shared_ptr<ShaderProgram> buildShaderProgram(const char* fragmentSource, const char* vertexSource,
                                                  std::string* failureLog) {
    // Declared vertex-last so the vertex shader object is deleted first.
    ShaderObject fragment(GL_FRAGMENT_SHADER, fragmentSource);
    ShaderObject vertex(GL_VERTEX_SHADER, vertexSource);
    auto program = std::make_shared<ShaderProgram>(glCreateProgram());
    glAttachShader(program->handle, vertex.name);
    glAttachShader(program->handle, fragment.name);
    glLinkProgram(program->handle);
    if (failureLog) {
        failureLog->clear();
        appendFailureLog(fragment.name, GL_COMPILE_STATUS, glGetShaderiv, glGetShaderInfoLog,
                         "fragment shader did not compile: ", *failureLog);
        appendFailureLog(vertex.name, GL_COMPILE_STATUS, glGetShaderiv, glGetShaderInfoLog,
                         "vertex shader did not compile: ", *failureLog);
        appendFailureLog(program->handle, GL_LINK_STATUS, glGetProgramiv, glGetProgramInfoLog,
                         "program did not link: ", *failureLog);
    }
    return program;
}
