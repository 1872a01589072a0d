// model_gl.cpp - buffer objects, textures and the fixed-function drawing of a
// Model (see model_gl.h for the state used and left).
//
// Usage:
//     uploadModel(model, &buffers);   // once, context current
//     drawModel(buffers);             // every frame, in the model's frame
#include "model_gl.h"

#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>
#include <GL/glext.h>

#include <cstdint>
#include <cstdio>

namespace {

constexpr GLfloat kNoLight[4] = {0.0f, 0.0f, 0.0f, 1.0f};  // no specular highlight, no emission

const char* modelName(const Model& model) { return model.path.empty() ? "(model)" : model.path.c_str(); }

void clearGLErrors() {
    while (glGetError() != GL_NO_ERROR) {
    }
}

// Texture parameters as the ship's (texture.h), but mipmaps made by GL at any size.
GLuint uploadTexture(const ModelTexture& texture) {
    GLuint name = 0;
    glPushAttrib(GL_TEXTURE_BIT);
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_NEAREST);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);  // RGBA rows are whole words
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
    glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, texture.width, texture.height, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 texture.rgba.data());
    glGenerateMipmap(GL_TEXTURE_2D);
    glPopClientAttrib();
    glPopAttrib();
    return name;
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
    for (const ModelTexture& texture : model.textures) {
        GLuint name = 0;
        if (fitsThisGL(texture)) {
            name = uploadTexture(texture);
            buffers->textures.push_back(name);
        } else {
            std::fprintf(stderr, "model: %s: texture %s: %d x %d too large for this GL; drawn in its material colour\n",
                         modelName(model), texture.source.c_str(), texture.width, texture.height);
        }
        names.push_back(name);
    }
    return names;
}

// Positions, then the one attribute the mesh is drawn with: texture
// coordinates when textured (drawn unlit), normals otherwise.
ModelDrawMesh uploadMesh(const ModelMesh& mesh, GLuint texture) {
    ModelDrawMesh drawn;
    drawn.texture = texture;
    drawn.closed = mesh.closed;
    for (int k = 0; k < 4; ++k) drawn.diffuse[k] = mesh.diffuse[k];
    const std::vector<float>& attribute = texture != 0 ? mesh.texcoords : mesh.normals;
    const std::size_t positionBytes = mesh.positions.size() * sizeof(float);
    const std::size_t attributeBytes = attribute.size() * sizeof(float);
    drawn.attributeOffset = positionBytes;
    glGenBuffers(1, &drawn.vertexBuffer);
    glBindBuffer(GL_ARRAY_BUFFER, drawn.vertexBuffer);
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(positionBytes + attributeBytes), nullptr, GL_STATIC_DRAW);
    glBufferSubData(GL_ARRAY_BUFFER, 0, static_cast<GLsizeiptr>(positionBytes), mesh.positions.data());
    glBufferSubData(GL_ARRAY_BUFFER, static_cast<GLintptr>(positionBytes), static_cast<GLsizeiptr>(attributeBytes),
                    attribute.data());
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glGenBuffers(1, &drawn.indexBuffer);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, drawn.indexBuffer);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(mesh.indices.size() * sizeof(unsigned)),
                 mesh.indices.data(), GL_STATIC_DRAW);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    drawn.indexCount = static_cast<int>(mesh.indices.size());
    return drawn;
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

void drawElements(const ModelDrawMesh& mesh, bool textured) {
    glBindBuffer(GL_ARRAY_BUFFER, mesh.vertexBuffer);
    glVertexPointer(3, GL_FLOAT, 0, nullptr);
    const void* attribute = reinterpret_cast<const void*>(static_cast<std::uintptr_t>(mesh.attributeOffset));
    if (textured)
        glTexCoordPointer(2, GL_FLOAT, 0, attribute);
    else
        glNormalPointer(GL_FLOAT, 0, attribute);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, mesh.indexBuffer);
    glDrawElements(GL_TRIANGLES, mesh.indexCount, GL_UNSIGNED_INT, nullptr);
}

void drawTexturedMeshes(const ModelBuffers& buffers) {
    glDisable(GL_LIGHTING);
    glEnable(GL_TEXTURE_2D);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    for (const ModelDrawMesh& mesh : buffers.meshes) {
        if (mesh.texture == 0) continue;
        setCulling(buffers.culling, mesh);
        glBindTexture(GL_TEXTURE_2D, mesh.texture);
        drawElements(mesh, true);
    }
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    glDisable(GL_TEXTURE_2D);
}

// The material colour follows glColor; normals are renormalised because the
// caller may scale the model into its scene.
void drawColouredMeshes(const ModelBuffers& buffers) {
    glEnable(GL_LIGHTING);
    glEnable(GL_NORMALIZE);
    glLightModeli(GL_LIGHT_MODEL_TWO_SIDE, GL_TRUE);
    glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, kNoLight);
    glMaterialfv(GL_FRONT_AND_BACK, GL_EMISSION, kNoLight);
    glColorMaterial(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE);
    glEnable(GL_COLOR_MATERIAL);
    glEnableClientState(GL_NORMAL_ARRAY);
    for (const ModelDrawMesh& mesh : buffers.meshes) {
        if (mesh.texture != 0) continue;
        setCulling(buffers.culling, mesh);
        glColor4fv(mesh.diffuse);
        drawElements(mesh, false);
    }
    glDisableClientState(GL_NORMAL_ARRAY);
}

}  // namespace

bool uploadModel(const Model& model, ModelBuffers* buffers) {
    *buffers = ModelBuffers();
    clearGLErrors();
    const std::vector<GLuint> textureNames = uploadTextures(model, buffers);
    for (const ModelMesh& mesh : model.meshes) {
        const bool textured = mesh.texture >= 0 && static_cast<std::size_t>(mesh.texture) < textureNames.size() &&
                              !mesh.texcoords.empty();
        buffers->meshes.push_back(uploadMesh(mesh, textured ? textureNames[static_cast<std::size_t>(mesh.texture)] : 0));
    }
    const GLenum error = glGetError();
    if (error == GL_NO_ERROR) return true;
    std::fprintf(stderr, "model: %s: cannot upload (GL error 0x%x)\n", modelName(model), error);
    releaseModel(buffers);
    return false;
}

void drawModel(const ModelBuffers& buffers) {
    glPushAttrib(GL_ENABLE_BIT | GL_LIGHTING_BIT | GL_TEXTURE_BIT | GL_CURRENT_BIT | GL_POLYGON_BIT);
    glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT);
    glFrontFace(frontFaceOfOutwardTriangles());
    glEnableClientState(GL_VERTEX_ARRAY);
    drawTexturedMeshes(buffers);
    drawColouredMeshes(buffers);
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
    if (!buffers->textures.empty())
        glDeleteTextures(static_cast<GLsizei>(buffers->textures.size()), buffers->textures.data());
    *buffers = ModelBuffers();
}
