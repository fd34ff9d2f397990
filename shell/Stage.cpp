#include "shell/Stage.h"

#include "core/globals.h"

Stage::Stage() {
    camera.aspect = static_cast<float>(monitorWidth) / static_cast<float>(monitorHeight);
    camera.updateView();
    projection = perspective(camera.fov, camera.aspect, camera.nearPlane, camera.farPlane);
}

void Stage::drawScene() {
    std::shared_ptr<ShaderProgram> current;
    for (const auto& model : models) {
        if (!current || model->shader->handle != current->handle) {
            current = model->shader;
            glUseProgram(current->handle);
            current->setVec3("view_pos", camera.position);
            current->setMat4("view", camera.view);
            current->setMat4("projection", projection);
        }
        current->setMat4("model", model->modelMatrix);
        for (std::size_t i = 0; i < model->meshes.size(); ++i) {
            if (model->meshMaterials.empty()) {
                for (const auto& material : model->materials) material.bind(*current);
            } else {
                model->materials.at(model->meshMaterials.at(i)).bind(*current);
            }
            const Mesh& mesh = model->meshes[i];
            glBindVertexArray(mesh.vao);
            if (mesh.indices.empty())
                glDrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(mesh.vertices.size()));
            else
                glDrawElements(GL_TRIANGLES, static_cast<GLsizei>(mesh.indices.size()), GL_UNSIGNED_INT, nullptr);
        }
    }
}
