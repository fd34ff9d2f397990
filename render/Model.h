#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "render/ShaderProgram.h"
#include "render/gl.h"
#include "render/math.h"

struct Vertex {
    Vec3 position;
    Vec3 normal;
    float uv[2] = {0, 0};
    Vec3 tangent;
    Vec3 bitangent;
};
static_assert(sizeof(Vertex) == 56, "the vertex layout is 14 packed floats");

// Geometry on the GPU. The mesh owns its vertex array and buffers and releases them when it
// goes, so a stage that starts again does not leak a set per start.
class Mesh {
public:
    Mesh(std::vector<Vertex> vertices, std::vector<std::uint32_t> indices);
    ~Mesh();
    Mesh(Mesh&& other) noexcept;
    Mesh& operator=(Mesh&& other) noexcept;
    Mesh(const Mesh&) = delete;
    Mesh& operator=(const Mesh&) = delete;

    void setup();

    std::vector<Vertex> vertices;
    std::vector<std::uint32_t> indices;
    GLuint vao = 0;

private:
    void release();
    GLuint vertexBuffer = 0;
    GLuint indexBuffer = 0;
};

enum TextureKind : std::int32_t { Diffuse = 0, Specular = 1 };

// A decoded image on the GPU. Copies name the same GL texture, which is deleted when the
// last copy goes.
struct Texture {
    Texture() = default;
    Texture(std::int32_t kind, const unsigned char* encoded, std::int32_t byteCount);

    std::int32_t kind = Diffuse;
    std::int64_t width = 0;
    std::int64_t height = 0;
    GLuint handle = 0;

private:
    std::shared_ptr<const GLuint> owner;
};

struct Material {
    std::vector<Texture> textures;
    void bind(const ShaderProgram& program) const;
};

class Model {
public:
    explicit Model(std::shared_ptr<ShaderProgram> program);
    void updateMatrix();

    Vec3 position{0, 0, 0};
    Vec3 scale{1, 1, 1};
    Quat rotation{0, 0, 0, 0};
    Mat4 modelMatrix;
    std::shared_ptr<ShaderProgram> shader;
    std::vector<Mesh> meshes;
    std::vector<Material> materials;
    std::vector<std::uint64_t> meshMaterials;
};

// The full-screen quad: uv (0, 0) at the bottom-left corner of the screen.
extern const std::vector<Vertex> quadVertices;
extern const std::vector<std::uint32_t> quadIndices;

std::shared_ptr<Model> makeQuadModel(std::shared_ptr<ShaderProgram> program);
std::shared_ptr<Model> makeTexturedQuadModel(std::shared_ptr<ShaderProgram> program,
                                             const std::vector<Texture>& textures);
