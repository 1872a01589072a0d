// model_shading.cpp - the models' GLSL program, its uniforms, and the
// fixed-function light (model_shading.h).
#include "model_shading.h"

#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <cmath>

#include "gl_program.h"
#include "srgb.h"

namespace {

const char* const kVertex = R"(
varying vec3 eyePosition;
varying vec3 eyeNormal;
varying vec2 uv;
void main() {
    vec4 p = gl_ModelViewMatrix * gl_Vertex;
    eyePosition = p.xyz;
    eyeNormal = gl_NormalMatrix * gl_Normal;
    uv = gl_MultiTexCoord0.xy;
    gl_Position = ftransform();
}
)";

// The light's intensity is what a white matte face turned to it reflects,
// so GGX's 1/pi is left out as Lambert's is.
const char* const kFragment = R"(
uniform vec3 lightDirection;
uniform vec3 lightColour;
uniform vec3 ambientColour;
uniform vec4 baseColour;
uniform vec3 specularColour;
uniform vec3 emissiveColour;
uniform float shininess;
uniform float metallic;
uniform float roughness;
uniform sampler2D baseMap;
uniform sampler2D normalMap;
uniform sampler2D metalRoughnessMap;
uniform sampler2D emissiveMap;
varying vec3 eyePosition;
varying vec3 eyeNormal;
varying vec2 uv;

// sRGB's curve from three square roots (within half a level of 255 of the
// exact curve above its linear toe), cheaper than pow.
vec3 toSrgb(vec3 c) {
    c = clamp(c, 0.0, 1.0);
    vec3 s1 = sqrt(c), s2 = sqrt(s1), s3 = sqrt(s2);
    return mix(c * 12.92, 0.585122381 * s1 + 0.783140355 * s2 - 0.368262736 * s3, step(0.0031308, c));
}

vec3 surfaceNormal() {
    vec3 n = normalize(eyeNormal);
    if (!gl_FrontFacing) n = -n;
#ifdef NORMAL_MAP
    // The gradients of u and v on the surface, times the screen's area
    // element: its sign turns them back when the projection mirrors.
    vec3 dp1 = dFdx(eyePosition), dp2 = dFdy(eyePosition);
    vec2 duv1 = dFdx(uv), duv2 = dFdy(uv);
    vec3 across2 = cross(dp2, n), across1 = cross(n, dp1);
    vec3 t = across2 * duv1.x + across1 * duv2.x;
    vec3 b = across2 * duv1.y + across1 * duv2.y;
    float size = max(dot(t, t), dot(b, b));
    if (size > 0.0) {
        float s = (dot(n, cross(dp1, dp2)) < 0.0 ? -1.0 : 1.0) * inversesqrt(size);
        vec3 m = texture2D(normalMap, uv).xyz * 2.0 - 1.0;
        n = normalize(t * (s * m.x) + b * (s * m.y) + n * m.z);
    }
#endif
    return n;
}

void main() {
    vec3 n = surfaceNormal();
    vec3 v = gl_ProjectionMatrix[2][3] == 0.0 ? vec3(0.0, 0.0, 1.0) : normalize(-eyePosition);
    vec4 base = baseColour;
#ifdef BASE_MAP
    base *= texture2D(baseMap, uv);  // an sRGB texture: GL decodes it
#endif
    float nl = max(dot(n, lightDirection), 0.0);
    vec3 h = normalize(lightDirection + v);
    float nh = max(dot(n, h), 0.0);
#ifdef METAL_ROUGHNESS
    float metal = metallic, rough = roughness;
#ifdef METAL_ROUGHNESS_MAP
    vec4 mr = texture2D(metalRoughnessMap, uv);
    metal *= mr.b;
    rough *= mr.g;
#endif
    vec3 f0 = mix(vec3(0.04), base.rgb, metal);
    vec3 diffuse = base.rgb * (1.0 - metal) * (lightColour * nl + ambientColour) + f0 * ambientColour;
    float a2 = max(rough * rough * rough * rough, 1e-5);
    float d = nh * nh * (a2 - 1.0) + 1.0;
    float nv = max(dot(n, v), 1e-3);
    float k = (rough + 1.0) * (rough + 1.0) / 8.0;
    float visibility = 0.25 / ((nl * (1.0 - k) + k) * (nv * (1.0 - k) + k));
    vec3 fresnel = f0 + (1.0 - f0) * pow(1.0 - max(dot(v, h), 0.0), 5.0);
    vec3 highlight = fresnel * (a2 / (d * d) * visibility * nl) * lightColour;
#else
    vec3 diffuse = base.rgb * (lightColour * nl + ambientColour);
#ifdef HIGHLIGHT
    vec3 highlight = nl > 0.0 ? specularColour * pow(nh, shininess) * lightColour : vec3(0.0);
#else
    vec3 highlight = vec3(0.0);
#endif
#endif
    vec3 colour = diffuse + (1.0 - min(diffuse, 1.0)) * min(highlight, 1.0);
    vec3 glow = emissiveColour;
#ifdef EMISSIVE_MAP
    glow *= texture2D(emissiveMap, uv).rgb;
#endif
    gl_FragColor = vec4(toSrgb(colour + glow), base.a);
}
)";

constexpr const char* kLightNames[3] = {"lightDirection", "lightColour", "ambientColour"};
constexpr const char* kSurfaceNames[7] = {"baseColour", "specularColour", "emissiveColour", "shininess",
                                          "metallic",   "roughness",      nullptr};
constexpr const char* kSamplerNames[4] = {"baseMap", "normalMap", "metalRoughnessMap", "emissiveMap"};
constexpr float kMinimumShininess = 1.0f;  // pow(0, 0) is undefined in GLSL

float srgbToLinear(float c) { return static_cast<float>(linearFromSrgb(c)); }

std::string preamble(int features) {
    std::string text = "#version 120\n";
    const std::pair<int, const char*> names[] = {{kBaseMap, "BASE_MAP"},
                                                 {kNormalMap, "NORMAL_MAP"},
                                                 {kMetalRoughness, "METAL_ROUGHNESS"},
                                                 {kMetalRoughnessMap, "METAL_ROUGHNESS_MAP"},
                                                 {kEmissiveMap, "EMISSIVE_MAP"},
                                                 {kHighlight, "HIGHLIGHT"}};
    for (const auto& name : names)
        if (features & name.first) text += std::string("#define ") + name.second + "\n";
    return text;
}

unsigned nameOf(int index, const unsigned* names, int nameCount) {
    return index >= 0 && index < nameCount ? names[index] : 0;
}

}  // namespace

ModelShaderSources modelShaderSources() { return {kVertex, kFragment}; }

ModelSurface describeSurface(const ModelMesh& mesh, const unsigned* names, int nameCount) {
    ModelSurface s;
    const bool linear = mesh.shading == ModelShading::kMetalRoughness;
    for (int k = 0; k < 3; ++k) {
        s.baseColour[k] = linear ? mesh.diffuse[k] : srgbToLinear(mesh.diffuse[k]);
        s.emissive[k] = linear ? mesh.emissive[k] : srgbToLinear(mesh.emissive[k]);
        s.specular[k] = mesh.shininess > 0 ? srgbToLinear(mesh.specular[k]) : 0.0f;
    }
    s.baseColour[3] = mesh.diffuse[3];
    s.shininess = std::max(kMinimumShininess, mesh.shininess);
    s.metallic = mesh.metallic;
    s.roughness = mesh.roughness;
    if (mesh.texcoords.empty()) return s;
    s.baseMap = nameOf(mesh.texture, names, nameCount);
    s.normalMap = nameOf(mesh.normalTexture, names, nameCount);
    s.metalRoughnessMap = linear ? nameOf(mesh.metalRoughnessTexture, names, nameCount) : 0;
    s.emissiveMap = nameOf(mesh.emissiveTexture, names, nameCount);
    return s;
}

int surfaceFeatures(const ModelMesh& mesh, const ModelSurface& s) {
    return (s.baseMap ? kBaseMap : 0) | (s.normalMap ? kNormalMap : 0) |
           (mesh.shading == ModelShading::kMetalRoughness ? kMetalRoughness : 0) |
           (s.metalRoughnessMap ? kMetalRoughnessMap : 0) | (s.emissiveMap ? kEmissiveMap : 0) |
           (s.specular[0] + s.specular[1] + s.specular[2] > 0 ? kHighlight : 0);
}

bool buildModelProgram(const ModelShaderSources& sources, int features, ModelProgram* program, std::string* problem) {
    const std::string head = preamble(features);
    const std::string vertex = head + sources.vertex, fragment = head + sources.fragment;
    *program = ModelProgram();
    program->name = buildGlProgram(vertex.c_str(), fragment.c_str(), problem);
    if (!program->name) return false;
    program->features = features;
    for (int k = 0; k < 3; ++k) program->light[k] = glGetUniformLocation(program->name, kLightNames[k]);
    for (int k = 0; kSurfaceNames[k] != nullptr; ++k)
        program->surface[k] = glGetUniformLocation(program->name, kSurfaceNames[k]);
    GLint previous = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &previous);
    glUseProgram(program->name);
    for (int unit = 0; unit < 4; ++unit) glUniform1i(glGetUniformLocation(program->name, kSamplerNames[unit]), unit);
    glUseProgram(static_cast<GLuint>(previous));
    return true;
}

void useModelProgram(const ModelProgram& program, const ModelLight& light) {
    glUseProgram(program.name);
    float direct[3], ambient[3];
    for (int k = 0; k < 3; ++k) direct[k] = light.intensity * light.colour[k], ambient[k] = light.ambient * light.colour[k];
    glUniform3fv(program.light[0], 1, light.direction);
    glUniform3fv(program.light[1], 1, direct);
    glUniform3fv(program.light[2], 1, ambient);
}

void setProgramSurface(const ModelProgram& program, const ModelSurface& s) {
    glUniform4fv(program.surface[0], 1, s.baseColour);
    glUniform3fv(program.surface[1], 1, s.specular);
    glUniform3fv(program.surface[2], 1, s.emissive);
    glUniform1f(program.surface[3], s.shininess);
    glUniform1f(program.surface[4], s.metallic);
    glUniform1f(program.surface[5], s.roughness);
    const unsigned maps[4] = {s.baseMap, s.normalMap, s.metalRoughnessMap, s.emissiveMap};
    for (int unit = 3; unit >= 0; --unit)
        if (maps[unit]) {
            glActiveTexture(static_cast<GLenum>(GL_TEXTURE0 + unit));
            glBindTexture(GL_TEXTURE_2D, maps[unit]);
        }
    glActiveTexture(GL_TEXTURE0);
}

void setFixedFunctionLight(const ModelLight& light) {
    GLint lights = 8;
    glGetIntegerv(GL_MAX_LIGHTS, &lights);
    for (int k = 1; k < lights; ++k) glDisable(static_cast<GLenum>(GL_LIGHT0 + k));
    const GLfloat none[4] = {0, 0, 0, 1};
    GLfloat direct[4] = {0, 0, 0, 1}, ambient[4] = {0, 0, 0, 1};
    for (int k = 0; k < 3; ++k) direct[k] = light.intensity * light.colour[k], ambient[k] = light.ambient * light.colour[k];
    const GLfloat position[4] = {light.direction[0], light.direction[1], light.direction[2], 0};
    GLint mode = GL_MODELVIEW;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();  // the direction is in eye space already
    glLightfv(GL_LIGHT0, GL_POSITION, position);
    glPopMatrix();
    glMatrixMode(static_cast<GLenum>(mode));
    glLightfv(GL_LIGHT0, GL_AMBIENT, none);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, direct);
    glLightfv(GL_LIGHT0, GL_SPECULAR, none);
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, ambient);
    glLightModeli(GL_LIGHT_MODEL_TWO_SIDE, GL_TRUE);
    glEnable(GL_LIGHT0);
    glEnable(GL_LIGHTING);
    glEnable(GL_NORMALIZE);
    glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, none);
    glMaterialfv(GL_FRONT_AND_BACK, GL_EMISSION, none);
    glColorMaterial(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE);
    glEnable(GL_COLOR_MATERIAL);
}

void setFixedFunctionSurface(const float diffuse[4]) { glColor4fv(diffuse); }
