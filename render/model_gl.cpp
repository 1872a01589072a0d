// model_gl.cpp - buffer objects, textures and programs of a Model, and its
// drawing, shaded or fixed-function (see model_gl.h for the state used and
// left).
//
// Usage:
//     uploadModel(model, &buffers);                  // once, context current
//     drawModel(buffers, modelLightInEyeSpace(light)); // every frame, in the model's frame
#include "model_gl.h"

#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>
#include <GL/glext.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

namespace {

const char* modelName(const Model& model) { return model.path.empty() ? "(model)" : model.path.c_str(); }

void clearGLErrors() {
    while (glGetError() != GL_NO_ERROR) {
    }
}

// The texels of texture into the texture bound: colours (sRGB-encoded, as
// pictures are) decoded to linear by GL where the program reads them, data
// as they are.
void loadTexels(const ModelTexture& texture, bool srgb) {
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);  // RGBA rows are whole words
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
    glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
    glTexImage2D(GL_TEXTURE_2D, 0, srgb ? GL_SRGB8_ALPHA8 : GL_RGBA8, texture.width, texture.height, 0, GL_RGBA,
                 GL_UNSIGNED_BYTE, texture.rgba.data());
    glGenerateMipmap(GL_TEXTURE_2D);
    glPopClientAttrib();
}

// Texture parameters as the ship's (texture.h), but mipmaps made by GL at any size.
GLuint uploadTexture(const ModelTexture& texture, bool srgb) {
    GLuint name = 0;
    glPushAttrib(GL_TEXTURE_BIT);
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_NEAREST);
    loadTexels(texture, srgb);
    glPopAttrib();
    return name;
}

// Which textures some mesh reads as a colour (base or emissive).
std::vector<bool> colourTextures(const Model& model) {
    std::vector<bool> colour(model.textures.size(), false);
    for (const ModelMesh& mesh : model.meshes)
        for (int index : {mesh.texture, mesh.emissiveTexture})
            if (index >= 0 && static_cast<std::size_t>(index) < colour.size()) colour[static_cast<std::size_t>(index)] = true;
    return colour;
}

// The fixed-function way modulates with the stored colours: the sRGB
// textures loaded again as they are.
void loadColourTexturesAsStored(const Model& model, const std::vector<GLuint>& names) {
    const std::vector<bool> colour = colourTextures(model);
    glPushAttrib(GL_TEXTURE_BIT);
    for (std::size_t i = 0; i < names.size(); ++i)
        if (names[i] != 0 && colour[i]) {
            glBindTexture(GL_TEXTURE_2D, names[i]);
            loadTexels(model.textures[i], false);
        }
    glPopAttrib();
}

bool fitsThisGL(const ModelTexture& texture) {
    GLint maxSide = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSide);
    return texture.width > 0 && texture.height > 0 && texture.width <= maxSide && texture.height <= maxSide &&
           texture.rgba.size() == static_cast<std::size_t>(texture.width) * texture.height * 4;
}

// The GL name of every texture of the model, 0 for those it cannot take.
std::vector<GLuint> uploadTextures(const Model& model, ModelBuffers* buffers) {
    std::vector<GLuint> names;
    const std::vector<bool> colour = colourTextures(model);
    for (const ModelTexture& texture : model.textures) {
        GLuint name = 0;
        if (fitsThisGL(texture)) {
            name = uploadTexture(texture, colour[names.size()]);
            buffers->textures.push_back(name);
        } else {
            std::fprintf(stderr, "model: %s: texture %s: %d x %d too large for this GL; drawn in its material colour\n",
                         modelName(model), texture.source.c_str(), texture.width, texture.height);
        }
        names.push_back(name);
    }
    return names;
}

void appendBytes(std::vector<unsigned char>* bytes, const std::vector<float>& values) {
    const auto* first = reinterpret_cast<const unsigned char*>(values.data());
    bytes->insert(bytes->end(), first, first + values.size() * sizeof(float));
}

// Positions, normals, then texture coordinates when the mesh has them.
ModelDrawMesh uploadMesh(const ModelMesh& mesh, const std::vector<GLuint>& textureNames) {
    ModelDrawMesh drawn;
    drawn.surface = describeSurface(mesh, textureNames.data(), static_cast<int>(textureNames.size()));
    drawn.texture = drawn.surface.baseMap;
    drawn.closed = mesh.closed;
    for (int k = 0; k < 4; ++k) drawn.diffuse[k] = mesh.diffuse[k];
    std::vector<unsigned char> bytes;
    appendBytes(&bytes, mesh.positions);
    drawn.normalOffset = bytes.size();
    appendBytes(&bytes, mesh.normals);
    if (!mesh.texcoords.empty()) drawn.texcoordOffset = bytes.size();
    appendBytes(&bytes, mesh.texcoords);
    glGenBuffers(1, &drawn.vertexBuffer);
    glBindBuffer(GL_ARRAY_BUFFER, drawn.vertexBuffer);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(bytes.size()), bytes.data(), GL_STATIC_DRAW);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glGenBuffers(1, &drawn.indexBuffer);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, drawn.indexBuffer);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(mesh.indices.size() * sizeof(unsigned)),
                 mesh.indices.data(), GL_STATIC_DRAW);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    drawn.indexCount = static_cast<int>(mesh.indices.size());
    return drawn;
}

// A program for every combination of maps the meshes have; on the first
// that fails, none, and every mesh drawn fixed-function.
bool buildPrograms(const Model& model, const ModelShaderSources& shaders, ModelBuffers* buffers) {
    for (std::size_t i = 0; i < buffers->meshes.size(); ++i) {
        ModelDrawMesh& drawn = buffers->meshes[i];
        const int features = surfaceFeatures(model.meshes[i], drawn.surface);
        for (std::size_t p = 0; p < buffers->programs.size() && drawn.program < 0; ++p)
            if (buffers->programs[p].features == features) drawn.program = static_cast<int>(p);
        if (drawn.program >= 0) continue;
        ModelProgram program;
        std::string problem;
        if (!buildModelProgram(shaders, features, &program, &problem)) {
            std::fprintf(stderr, "shading: %s: %s; models drawn fixed-function\n", modelName(model), problem.c_str());
            for (const ModelProgram& built : buffers->programs) glDeleteProgram(built.name);
            buffers->programs.clear();
            for (ModelDrawMesh& mesh : buffers->meshes) mesh.program = -1;
            return false;
        }
        drawn.program = static_cast<int>(buffers->programs.size());
        buffers->programs.push_back(program);
    }
    return true;
}

double determinant3(double a, double b, double c, double d, double e, double f, double g, double h, double i) {
    return a * (e * i - f * h) - b * (d * i - f * g) + c * (d * h - e * g);
}

double determinant4(const GLdouble* m) {
    double sum = 0.0, sign = 1.0;
    for (int column = 0; column < 4; ++column, sign = -sign) {  // along row 0; m is column-major
        double minor[9];
        int n = 0;
        for (int c = 0; c < 4; ++c)
            if (c != column)
                for (int r = 1; r < 4; ++r) minor[n++] = m[4 * c + r];
        sum += sign * m[4 * column] * determinant3(minor[0], minor[3], minor[6], minor[1], minor[4], minor[7],
                                                   minor[2], minor[5], minor[8]);
    }
    return sum;
}

// The perspective divide keeps the sign of the projection's determinant, and
// a usual projection (glFrustum, glOrtho) has a negative one because it turns
// the viewing direction from -z to +z. Outward counter-clockwise triangles
// therefore appear counter-clockwise when the product of the two matrices'
// determinants is negative, and clockwise when the transforms mirror.
GLenum frontFaceOfOutwardTriangles() {
    GLdouble modelView[16], projection[16];
    glGetDoublev(GL_MODELVIEW_MATRIX, modelView);
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
    const double modelViewSign = determinant3(modelView[0], modelView[4], modelView[8], modelView[1], modelView[5],
                                              modelView[9], modelView[2], modelView[6], modelView[10]);
    return modelViewSign * determinant4(projection) > 0.0 ? GL_CW : GL_CCW;
}

void setCulling(ModelCulling culling, const ModelDrawMesh& mesh) {
    const bool cull = culling == ModelCulling::kAllMeshes || (culling == ModelCulling::kClosedMeshes && mesh.closed);
    if (cull) {
        glEnable(GL_CULL_FACE);
        glCullFace(GL_BACK);
    } else {
        glDisable(GL_CULL_FACE);
    }
}

const void* atOffset(std::size_t bytes) { return reinterpret_cast<const void*>(static_cast<std::uintptr_t>(bytes)); }

void drawElements(const ModelDrawMesh& mesh, bool withAttributes) {
    glBindBuffer(GL_ARRAY_BUFFER, mesh.vertexBuffer);
    glVertexPointer(3, GL_FLOAT, 0, nullptr);
    if (withAttributes) {
        glNormalPointer(GL_FLOAT, 0, atOffset(mesh.normalOffset));
        if (mesh.texcoordOffset != 0) {
            glEnableClientState(GL_TEXTURE_COORD_ARRAY);
            glTexCoordPointer(2, GL_FLOAT, 0, atOffset(mesh.texcoordOffset));
        } else {
            glDisableClientState(GL_TEXTURE_COORD_ARRAY);
        }
    }
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, mesh.indexBuffer);
    glDrawElements(GL_TRIANGLES, mesh.indexCount, GL_UNSIGNED_INT, nullptr);
}

void drawShadedMeshes(const ModelBuffers& buffers, const ModelLight& light) {
    glDisable(GL_LIGHTING);
    int inUse = -1;
    for (const ModelDrawMesh& mesh : buffers.meshes) {
        if (mesh.program < 0) continue;
        const ModelProgram& program = buffers.programs[static_cast<std::size_t>(mesh.program)];
        if (mesh.program != inUse) useModelProgram(program, light);
        inUse = mesh.program;
        setCulling(buffers.culling, mesh);
        setProgramSurface(program, mesh.surface);
        drawElements(mesh, true);
    }
}

// The texture modulates the lit material colour, as the program's does.
void drawFixedFunctionMeshes(const ModelBuffers& buffers, const ModelLight& light) {
    bool any = false;
    for (const ModelDrawMesh& mesh : buffers.meshes) any = any || mesh.program < 0;
    if (!any) return;
    setFixedFunctionLight(light);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    for (const ModelDrawMesh& mesh : buffers.meshes) {
        if (mesh.program >= 0) continue;
        setCulling(buffers.culling, mesh);
        setFixedFunctionSurface(mesh.diffuse);
        if (mesh.texture != 0 && mesh.texcoordOffset != 0) {
            glEnable(GL_TEXTURE_2D);
            glBindTexture(GL_TEXTURE_2D, mesh.texture);
        } else {
            glDisable(GL_TEXTURE_2D);
        }
        drawElements(mesh, true);
    }
}

// Depth alone: no program, texture or light.
void drawPositions(const ModelBuffers& buffers) {
    glDisable(GL_LIGHTING);
    glDisable(GL_TEXTURE_2D);
    for (const ModelDrawMesh& mesh : buffers.meshes) {
        setCulling(buffers.culling, mesh);
        drawElements(mesh, false);
    }
}

bool writesColour() {
    GLboolean mask[4] = {GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE};
    glGetBooleanv(GL_COLOR_WRITEMASK, mask);
    return mask[0] || mask[1] || mask[2] || mask[3];
}

}  // namespace

bool uploadModel(const Model& model, ModelBuffers* buffers, const ModelShaderSources& shaders) {
    *buffers = ModelBuffers();
    clearGLErrors();
    const std::vector<GLuint> textureNames = uploadTextures(model, buffers);
    for (const ModelMesh& mesh : model.meshes) buffers->meshes.push_back(uploadMesh(mesh, textureNames));
    if (!buildPrograms(model, shaders, buffers)) loadColourTexturesAsStored(model, textureNames);
    const GLenum error = glGetError();
    if (error == GL_NO_ERROR) return true;
    std::fprintf(stderr, "model: %s: cannot upload (GL error 0x%x)\n", modelName(model), error);
    releaseModel(buffers);
    return false;
}

ModelLight modelLightInEyeSpace(const ModelLight& boardLight) {
    GLfloat m[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, m);
    ModelLight eye = boardLight;
    const float* d = boardLight.direction;
    float length = 0;
    for (int r = 0; r < 3; ++r) {
        eye.direction[r] = m[r] * d[0] + m[4 + r] * d[1] + m[8 + r] * d[2];
        length += eye.direction[r] * eye.direction[r];
    }
    length = std::sqrt(length);
    if (!(length > 0) || !std::isfinite(length)) return boardLight;
    for (float& c : eye.direction) c /= length;
    return eye;
}

void drawModel(const ModelBuffers& buffers, const ModelLight& eyeLight) {
    GLint program = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &program);
    glPushAttrib(GL_ENABLE_BIT | GL_LIGHTING_BIT | GL_TEXTURE_BIT | GL_CURRENT_BIT | GL_POLYGON_BIT);
    glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT);
    glFrontFace(frontFaceOfOutwardTriangles());
    glEnableClientState(GL_VERTEX_ARRAY);
    if (writesColour()) {
        glEnableClientState(GL_NORMAL_ARRAY);
        drawShadedMeshes(buffers, eyeLight);
        glUseProgram(0);
        drawFixedFunctionMeshes(buffers, eyeLight);
    } else {
        glUseProgram(0);
        drawPositions(buffers);
    }
    glUseProgram(static_cast<GLuint>(program));
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    glPopClientAttrib();
    glPopAttrib();
}

void releaseModel(ModelBuffers* buffers) {
    for (const ModelDrawMesh& mesh : buffers->meshes) {
        glDeleteBuffers(1, &mesh.vertexBuffer);
        glDeleteBuffers(1, &mesh.indexBuffer);
    }
    for (const ModelProgram& program : buffers->programs) glDeleteProgram(program.name);
    if (!buffers->textures.empty())
        glDeleteTextures(static_cast<GLsizei>(buffers->textures.size()), buffers->textures.data());
    *buffers = ModelBuffers();
}
