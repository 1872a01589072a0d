// shadow_map.cpp - the light's depth map and the shadow-only surfaces.
#include "shadow_map.h"

#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string>

#include "gl_program.h"
#include "picture.h"

namespace {

constexpr float kMarginShare = 0.05f;       // of the caster's widest side, around it in the map
constexpr float kContactBias = 0.01f;        // board units: a receiver this close behind the caster is lit
// The shadow's soft edge, board units across, whatever the map's scale: 5 x
// 5 filtered comparisons a quarter of it apart.
constexpr double kPenumbra = 0.15;
constexpr int kFilterReach = 2;  // taps either side of the centre

const char* const kReceiverVertex = R"(#version 120
uniform mat4 boardToMap;
varying vec4 mapCoord;
void main() {
    mapCoord = boardToMap * gl_Vertex;
    gl_Position = ftransform();
}
)";

const char* const kReceiverFragment = R"(#version 120
uniform sampler2DShadow depthMap;
uniform float strength;
uniform vec2 step;
uniform float bias;
varying vec4 mapCoord;
void main() {
    vec3 c = mapCoord.xyz / mapCoord.w;
    if (any(lessThan(c.xy, vec2(0.0))) || any(greaterThan(c.xy, vec2(1.0)))) discard;
    float reference = clamp(c.z - bias, 0.0, 1.0);
    // The kernel's four corners and its centre first: where they agree the
    // point is far from the edge, wholly lit or wholly in shadow.
    float corners = shadow2D(depthMap, vec3(c.xy + vec2(-2.0, -2.0) * step, reference)).r
                  + shadow2D(depthMap, vec3(c.xy + vec2(2.0, -2.0) * step, reference)).r
                  + shadow2D(depthMap, vec3(c.xy + vec2(-2.0, 2.0) * step, reference)).r
                  + shadow2D(depthMap, vec3(c.xy + vec2(2.0, 2.0) * step, reference)).r
                  + shadow2D(depthMap, vec3(c.xy, reference)).r;
    if (corners > 4.999) discard;
    float lit = 0.0;
    if (corners > 0.001) {
        for (int i = -2; i <= 2; ++i)
            for (int j = -2; j <= 2; ++j)
                lit += shadow2D(depthMap, vec3(c.xy + vec2(float(i), float(j)) * step, reference)).r;
    }
    float darkness = strength * (1.0 - lit / 25.0);
    if (darkness <= 0.0) discard;
    gl_FragColor = vec4(0.0, 0.0, 0.0, darkness);
}
)";

using Vec3 = std::array<double, 3>;

double dot(const Vec3& a, const Vec3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

// The light's frame: z towards the light, x and y across its beam.
struct LightFrame {
    Vec3 x, y, z;
};

LightFrame lightFrame(const double direction[3]) {
    LightFrame f;
    f.z = {direction[0], direction[1], direction[2]};
    Vec3 across = std::fabs(f.z[0]) < 0.9 ? Vec3{1, 0, 0} : Vec3{0, 0, 1};
    double along = dot(across, f.z);
    for (int i = 0; i < 3; ++i) f.x[i] = across[i] - along * f.z[i];
    double length = std::sqrt(dot(f.x, f.x));
    for (double& v : f.x) v /= length;
    f.y = {f.z[1] * f.x[2] - f.z[2] * f.x[1], f.z[2] * f.x[0] - f.z[0] * f.x[2], f.z[0] * f.x[1] - f.z[1] * f.x[0]};
    return f;
}

// Column-major product a * b.
void multiply(const double a[16], const double b[16], double out[16]) {
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r) {
            double s = 0;
            for (int k = 0; k < 4; ++k) s += a[4 * k + r] * b[4 * c + k];
            out[4 * c + r] = s;
        }
}

// The orthographic box around the caster in the light's frame.
struct LightBox {
    double left, right, bottom, top, nearPlane, farPlane;
};

LightBox fitBox(const LightFrame& f, const ShadowCaster& caster) {
    double lo[3] = {1e300, 1e300, 1e300}, hi[3] = {-1e300, -1e300, -1e300};
    for (const auto& c : caster.corners) {
        Vec3 p = {c[0], c[1], c[2]};
        const double v[3] = {dot(f.x, p), dot(f.y, p), dot(f.z, p)};
        for (int i = 0; i < 3; ++i) lo[i] = std::min(lo[i], v[i]), hi[i] = std::max(hi[i], v[i]);
    }
    double margin = kMarginShare * std::max({hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2], 1e-3});
    // The light looks along its -z: depth grows as z falls.
    return {lo[0] - margin, hi[0] + margin, lo[1] - margin, hi[1] + margin, -hi[2] - margin, -lo[2] + margin};
}

void loadBoardToMap(const LightFrame& f, const LightBox& b, ShadowMap* map) {
    double view[16] = {f.x[0], f.y[0], f.z[0], 0, f.x[1], f.y[1], f.z[1], 0,
                       f.x[2], f.y[2], f.z[2], 0, 0,      0,      0,      1};
    double w = b.right - b.left, h = b.top - b.bottom, d = b.farPlane - b.nearPlane;
    // glOrtho's matrix followed by [-1, 1] to [0, 1] on every axis.
    double toMap[16] = {1 / w, 0, 0, 0, 0, 1 / h, 0, 0, 0, 0, -1 / d, 0,
                        -b.left / w, -b.bottom / h, -b.nearPlane / d, 1};
    double product[16];
    multiply(toMap, view, product);
    for (int i = 0; i < 16; ++i) map->boardToMap[i] = static_cast<float>(product[i]);
    map->depthBias = static_cast<float>(kContactBias / d);
    map->filterStep[0] = static_cast<float>(kPenumbra / (2 * kFilterReach) / w);
    map->filterStep[1] = static_cast<float>(kPenumbra / (2 * kFilterReach) / h);
    const double corners[4][2] = {{b.left, b.bottom}, {b.right, b.bottom}, {b.right, b.top}, {b.left, b.top}};
    for (int k = 0; k < 4; ++k) {
        double t = -(corners[k][0] * f.x[1] + corners[k][1] * f.y[1]) / f.z[1];  // onto y = 0
        for (int i = 0; i < 3; ++i)
            map->footprint[k][i] = static_cast<float>(corners[k][0] * f.x[i] + corners[k][1] * f.y[i] + t * f.z[i]);
    }
}

void loadLightMatrices(const LightFrame& f, const LightBox& b) {
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(b.left, b.right, b.bottom, b.top, b.nearPlane, b.farPlane);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    const double view[16] = {f.x[0], f.y[0], f.z[0], 0, f.x[1], f.y[1], f.z[1], 0,
                             f.x[2], f.y[2], f.z[2], 0, 0,      0,      0,      1};
    glLoadMatrixd(view);
}

bool makeDepthTarget(ShadowMap* map) {
    glGenTextures(1, &map->depthTexture);
    glBindTexture(GL_TEXTURE_2D, map->depthTexture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_DEPTH_COMPONENT24, kShadowMapSide, kShadowMapSide, 0, GL_DEPTH_COMPONENT,
                 GL_UNSIGNED_INT, nullptr);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_COMPARE_MODE, GL_COMPARE_REF_TO_TEXTURE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_COMPARE_FUNC, GL_LEQUAL);
    glBindTexture(GL_TEXTURE_2D, 0);
    GLint previous = 0;
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &previous);
    glGenFramebuffers(1, &map->framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, map->framebuffer);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_TEXTURE_2D, map->depthTexture, 0);
    glDrawBuffer(GL_NONE);
    glReadBuffer(GL_NONE);
    bool complete = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(previous));
    return complete && glGetError() == GL_NO_ERROR;
}

void drawFootprint(const ShadowMap& map) {
    glBegin(GL_QUADS);
    for (const auto& p : map.footprint) glVertex3f(p[0], p[1], p[2]);
    glEnd();
}

}  // namespace

bool setUpShadowMap(ShadowMap* map) {
    *map = ShadowMap{};
    std::string problem;
    map->program = buildGlProgram(kReceiverVertex, kReceiverFragment, &problem);
    if (map->program && makeDepthTarget(map)) return true;
    if (problem.empty()) problem = "this OpenGL has no depth-texture framebuffer";
    std::fprintf(stderr, "shadows: cannot be drawn (%s); drawn without them\n", problem.c_str());
    releaseShadowMap(map);
    return false;
}

void beginShadowCasting(ShadowMap* map, const double lightDirection[3], const ShadowCaster& caster) {
    LightFrame f = lightFrame(lightDirection);
    LightBox box = fitBox(f, caster);
    loadBoardToMap(f, box, map);
    glGetIntegerv(GL_VIEWPORT, map->savedViewport);
    glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &map->savedFramebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, map->framebuffer);
    glViewport(0, 0, kShadowMapSide, kShadowMapSide);
    glPushAttrib(GL_ENABLE_BIT | GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_LIGHTING_BIT | GL_TEXTURE_BIT);
    glDepthMask(GL_TRUE);
    glClear(GL_DEPTH_BUFFER_BIT);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);
    glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_FALSE);
    loadLightMatrices(f, box);
    map->casting = true;
    map->cast = true;
    for (int i = 0; i < 3; ++i) map->castDirection[i] = lightDirection[i];
    for (int k = 0; k < 8; ++k)
        for (int i = 0; i < 3; ++i) map->castCorners[k][i] = caster.corners[k][i];
}

bool shadowMapHolds(const ShadowMap& map, const double lightDirection[3], const ShadowCaster& caster) {
    if (!map.cast) return false;
    for (int i = 0; i < 3; ++i)
        if (map.castDirection[i] != lightDirection[i]) return false;
    for (int k = 0; k < 8; ++k)
        for (int i = 0; i < 3; ++i)
            if (map.castCorners[k][i] != caster.corners[k][i]) return false;
    return true;
}

void endShadowCasting(ShadowMap* map) {
    if (!map->casting) return;
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glPopAttrib();
    glBindFramebuffer(GL_FRAMEBUFFER, static_cast<GLuint>(map->savedFramebuffer));
    glViewport(map->savedViewport[0], map->savedViewport[1], map->savedViewport[2], map->savedViewport[3]);
    map->casting = false;
}

void drawShadows(const ShadowMap& map, const std::vector<Occluder>& occluders, float strength) {
    if (!map.program || strength <= 0) return;
    glPushAttrib(GL_ENABLE_BIT | GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_POLYGON_BIT | GL_TEXTURE_BIT |
                 GL_CURRENT_BIT);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, map.depthTexture);
    glUseProgram(map.program);
    glUniformMatrix4fv(glGetUniformLocation(map.program, "boardToMap"), 1, GL_FALSE, map.boardToMap);
    glUniform1i(glGetUniformLocation(map.program, "depthMap"), 0);
    glUniform1f(glGetUniformLocation(map.program, "strength"), strength);
    glUniform2f(glGetUniformLocation(map.program, "step"), map.filterStep[0], map.filterStep[1]);
    glUniform1f(glGetUniformLocation(map.program, "bias"), map.depthBias);
    glDisable(GL_LIGHTING);
    glDisable(GL_CULL_FACE);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glDepthMask(GL_FALSE);
    // The occluders' faces lie at the depth they were drawn at: pulled a
    // little towards the camera, they pass the test against themselves.
    glEnable(GL_POLYGON_OFFSET_FILL);
    glPolygonOffset(-1.0f, -4.0f);
    drawFootprint(map);
    drawOccluders(occluders);
    glUseProgram(0);
    glBindTexture(GL_TEXTURE_2D, 0);
    glPopAttrib();
}

void releaseShadowMap(ShadowMap* map) {
    if (map->program) glDeleteProgram(map->program);
    if (map->framebuffer) glDeleteFramebuffers(1, &map->framebuffer);
    if (map->depthTexture) glDeleteTextures(1, &map->depthTexture);
    *map = ShadowMap{};
}
