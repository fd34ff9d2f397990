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

void appendShaderLog(GLuint shader, const char* what, std::string& log) {
    GLint ok = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (ok == GL_TRUE) return;
    GLint length = 0;
    glGetShaderiv(shader, GL_INFO_LOG_LENGTH, &length);
    std::vector<char> text(static_cast<std::size_t>(length > 0 ? length : 1), '\0');
    glGetShaderInfoLog(shader, static_cast<GLsizei>(text.size()), nullptr, text.data());
    log += std::string(what) + " shader did not compile: " + text.data() + "\n";
}

void appendProgramLog(GLuint program, std::string& log) {
    GLint ok = GL_FALSE;
    glGetProgramiv(program, GL_LINK_STATUS, &ok);
    if (ok == GL_TRUE) return;
    GLint length = 0;
    glGetProgramiv(program, GL_INFO_LOG_LENGTH, &length);
    std::vector<char> text(static_cast<std::size_t>(length > 0 ? length : 1), '\0');
    glGetProgramInfoLog(program, static_cast<GLsizei>(text.size()), nullptr, text.data());
    log += std::string("program did not link: ") + text.data() + "\n";
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
        appendShaderLog(fragment.name, "fragment", *failureLog);
        appendShaderLog(vertex.name, "vertex", *failureLog);
        appendProgramLog(program->handle, *failureLog);
    }
    return program;
}
