// model_drawing.cpp - the steered model's transform and its triangles.
#include "model_drawing.h"

#include <GL/gl.h>

namespace {

// Mesh frame to board frame: the orientation's turns, the scale, the pose.
void applyModelTransform(const ModelPlacement& m, const ModelPose& p) {
    if (m.orientation[0] != 0) glRotatef(m.orientation[0], 1.0f, 0.0f, 0.0f);
    if (m.orientation[1] != 0) glRotatef(m.orientation[1], 0.0f, 1.0f, 0.0f);
    if (m.orientation[2] != 0) glRotatef(m.orientation[2], 0.0f, 0.0f, 1.0f);
    glScalef(m.scale, m.scale, m.scale);
    glTranslatef(p.x, p.y, p.z);
    glRotatef(p.heading, m.down[0], m.down[1], m.down[2]);
}

// The inverse steps in reverse order, so the axes find the board frame again.
void undoModelTransform(const ModelPlacement& m, const ModelPose& p) {
    glRotatef(-p.heading, m.down[0], m.down[1], m.down[2]);
    glTranslatef(-p.x, -p.y, -p.z);
    glScalef(1.0f / m.scale, 1.0f / m.scale, 1.0f / m.scale);
    if (m.orientation[2] != 0) glRotatef(-m.orientation[2], 0.0f, 0.0f, 1.0f);
    if (m.orientation[1] != 0) glRotatef(-m.orientation[1], 0.0f, 1.0f, 0.0f);
    if (m.orientation[0] != 0) glRotatef(-m.orientation[0], 1.0f, 0.0f, 0.0f);
}

bool indexInMesh(const obj_type& mesh, int index) { return index >= 0 && index < mesh.vertex_count; }

void emitCorner(const obj_type& mesh, int index) {
    glTexCoord2f(mesh.mapping[index].u, mesh.mapping[index].v);
    glVertex3f(mesh.vertices[index].x, mesh.vertices[index].y, mesh.vertices[index].z);
}

// Triangles naming a vertex the mesh does not have are skipped.
void drawTriangles(const obj_type& mesh) {
    glBegin(GL_TRIANGLES);
    for (int i = 0; i < mesh.polygon_count; ++i) {
        const mesh_polygon& p = mesh.polygons[i];
        if (!indexInMesh(mesh, p.a) || !indexInMesh(mesh, p.b) || !indexInMesh(mesh, p.c)) continue;
        emitCorner(mesh, p.a);
        emitCorner(mesh, p.b);
        emitCorner(mesh, p.c);
    }
    glEnd();
}

}  // namespace

void drawTexturedMesh(const obj_type& mesh, int textureId, const ModelPlacement& placement, const ModelPose& pose) {
    glDisable(GL_LIGHTING);
    glEnable(GL_TEXTURE_2D);
    applyModelTransform(placement, pose);
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(textureId));
    drawTriangles(mesh);
    undoModelTransform(placement, pose);
    glDisable(GL_TEXTURE_2D);
}

void drawPlacedModel(const ModelBuffers& buffers, const ModelPlacement& placement, const ModelPose& pose,
                     const ModelLight& light) {
    const ModelLight eyeLight = modelLightInEyeSpace(light);  // from the board frame
    applyModelTransform(placement, pose);
    drawModel(buffers, eyeLight);
    undoModelTransform(placement, pose);
    glDisable(GL_LIGHTING);
}

void placedCorners(const float lo[3], const float hi[3], const ModelPlacement& placement, const ModelPose& pose,
                   float corners[8][3]) {
    GLint mode = GL_MODELVIEW;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    applyModelTransform(placement, pose);
    GLfloat m[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, m);
    glPopMatrix();
    glMatrixMode(static_cast<GLenum>(mode));
    for (int k = 0; k < 8; ++k) {
        const float p[3] = {(k & 1) ? hi[0] : lo[0], (k & 2) ? hi[1] : lo[1], (k & 4) ? hi[2] : lo[2]};
        for (int r = 0; r < 3; ++r) corners[k][r] = m[r] * p[0] + m[4 + r] * p[1] + m[8 + r] * p[2] + m[12 + r];
    }
}
