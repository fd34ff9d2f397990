#include "render/Model.h"

#include <utility>

#include <stb/stb_image.h>

Mesh::Mesh(std::vector<Vertex> v, std::vector<std::uint32_t> i) : vertices(std::move(v)), indices(std::move(i)) {
    setup();
}

Mesh::~Mesh() { release(); }

Mesh::Mesh(Mesh&& other) noexcept
    : vertices(std::move(other.vertices)),
      indices(std::move(other.indices)),
      vao(std::exchange(other.vao, 0)),
      vertexBuffer(std::exchange(other.vertexBuffer, 0)),
      indexBuffer(std::exchange(other.indexBuffer, 0)) {}

Mesh& Mesh::operator=(Mesh&& other) noexcept {
    if (this != &other) {
        release();
        vertices = std::move(other.vertices);
        indices = std::move(other.indices);
        vao = std::exchange(other.vao, 0);
        vertexBuffer = std::exchange(other.vertexBuffer, 0);
        indexBuffer = std::exchange(other.indexBuffer, 0);
    }
    return *this;
}

void Mesh::release() {
    if (indexBuffer) glDeleteBuffers(1, &indexBuffer);
    if (vertexBuffer) glDeleteBuffers(1, &vertexBuffer);
    if (vao) glDeleteVertexArrays(1, &vao);
    indexBuffer = vertexBuffer = vao = 0;
}

void Mesh::setup() {
    release();
    glGenVertexArrays(1, &vao);
    glGenBuffers(1, &vertexBuffer);
    glBindVertexArray(vao);
    glBindBuffer(GL_ARRAY_BUFFER, vertexBuffer);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(vertices.size() * sizeof(Vertex)), vertices.data(),
                 GL_STATIC_DRAW);
    if (!indices.empty()) {
        glGenBuffers(1, &indexBuffer);
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, indexBuffer);
        glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(indices.size() * sizeof(std::uint32_t)),
                     indices.data(), GL_STATIC_DRAW);
    }
    struct Attribute {
        GLint components;
        std::size_t offset;
    };
    const Attribute attributes[] = {{3, offsetof(Vertex, position)},
                                    {3, offsetof(Vertex, normal)},
                                    {2, offsetof(Vertex, uv)},
                                    {3, offsetof(Vertex, tangent)},
                                    {3, offsetof(Vertex, bitangent)}};
    for (GLuint location = 0; location < 5; ++location) {
        glEnableVertexAttribArray(location);
        glVertexAttribPointer(location, attributes[location].components, GL_FLOAT, GL_FALSE, sizeof(Vertex),
                              reinterpret_cast<const void*>(attributes[location].offset));
    }
    glBindVertexArray(0);
}

Texture::Texture(std::int32_t textureKind, const unsigned char* encoded, std::int32_t byteCount) : kind(textureKind) {
    stbi_set_flip_vertically_on_load(1);
    int w = 0, h = 0, channels = 0;
    // Grey+alpha has no GL format of its own here; expanding it to RGBA keeps the buffer
    // as large as the upload reads.
    int desired = 0;
    if (stbi_info_from_memory(encoded, byteCount, &w, &h, &channels) && channels == 2) desired = 4;
    unsigned char* pixels = stbi_load_from_memory(encoded, byteCount, &w, &h, &channels, desired);
    if (!pixels) return;
    if (desired) channels = desired;
    width = w;
    height = h;
    const GLenum format = channels == 1 ? GL_RED : channels == 4 ? GL_RGBA : GL_RGB;

    GLuint name = 0;
    glGenTextures(1, &name);
    handle = name;
    owner = std::shared_ptr<const GLuint>(new GLuint(name), [](const GLuint* n) {
        glDeleteTextures(1, n);
        delete n;
    });
    glBindTexture(GL_TEXTURE_2D, handle);
    // Rows that are not a whole number of 4-byte words need byte alignment to upload right.
    const bool oddRows = (static_cast<std::int64_t>(w) * channels) % 4 != 0;
    if (oddRows) glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(format), w, h, 0, format, GL_UNSIGNED_BYTE, pixels);
    if (oddRows) glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glGenerateMipmap(GL_TEXTURE_2D);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    stbi_image_free(pixels);
}

void Material::bind(const ShaderProgram& program) const {
    if (textures.empty()) {
        glActiveTexture(GL_TEXTURE1);
        glBindTexture(GL_TEXTURE_2D, 0);
        glActiveTexture(GL_TEXTURE0);
        glBindTexture(GL_TEXTURE_2D, 0);
        return;
    }
    for (std::size_t i = 0; i < textures.size(); ++i) {
        glActiveTexture(GL_TEXTURE0 + static_cast<GLenum>(i));
        glBindTexture(GL_TEXTURE_2D, textures[i].handle);
        if (textures[i].kind == Diffuse)
            program.setInt("material.diffuse_tex", static_cast<GLint>(i));
        else if (textures[i].kind == Specular)
            program.setInt("material.specular_tex", static_cast<GLint>(i));
    }
}

Model::Model(std::shared_ptr<ShaderProgram> program) : shader(std::move(program)) { updateMatrix(); }

void Model::updateMatrix() { modelMatrix = ::translation(position) * ::rotation(rotation) * ::scaling(scale); }

namespace {
Vertex quadVertex(float x, float y, float u, float v) {
    Vertex vertex;
    vertex.position = {x, y, 0};
    vertex.uv[0] = u;
    vertex.uv[1] = v;
    return vertex;
}
}  // namespace

const std::vector<Vertex> quadVertices = {quadVertex(-1, -1, 0, 0), quadVertex(-1, 1, 0, 1),
                                          quadVertex(1, 1, 1, 1), quadVertex(1, -1, 1, 0)};
const std::vector<std::uint32_t> quadIndices = {0, 1, 2, 0, 2, 3};

std::shared_ptr<Model> makeQuadModel(std::shared_ptr<ShaderProgram> program) {
    auto model = std::make_shared<Model>(std::move(program));
    model->meshes.emplace_back(quadVertices, quadIndices);
    return model;
}

std::shared_ptr<Model> makeTexturedQuadModel(std::shared_ptr<ShaderProgram> program,
                                             const std::vector<Texture>& textures) {
    auto model = std::make_shared<Model>(std::move(program));
    model->materials.push_back(Material{textures});
    model->meshes.emplace_back(quadVertices, quadIndices);
    return model;
}
