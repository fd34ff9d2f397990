#version 330 core
struct Material {
    sampler2D diffuse_tex;
    sampler2D specular_tex;
};

in vec3 fragNormal;
in vec3 fragPos;
in vec2 fragCoord;

out vec4 fragColor;

uniform vec3 view_pos;
uniform Material material;

void main()
{
    fragColor = texture(material.diffuse_tex, fragCoord);
}
