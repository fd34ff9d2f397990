#version 330 core
layout (location = 0) in vec3 attrPos;
layout (location = 1) in vec3 attrNormal;
layout (location = 2) in vec2 attrUV;

out vec3 fragNormal;
out vec2 fragCoord;
out vec3 fragPos;

// Positions are already clip-space: every scene is a full-screen quad.
void main()
{
    fragPos = attrPos;
    fragNormal = attrNormal;
    fragCoord = attrUV;
    gl_Position = vec4(attrPos, 1.0);
}
