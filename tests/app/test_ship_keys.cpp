// Steering the ship: the pose the keys produce, step by step, and a mesh
// with corner indexes beyond its vertices drawn without them.
#include <gtest/gtest.h>

#include <GL/gl.h>

#include <cctype>

#include "keys.h"
#include "offscreen_gl.h"
#include "ship.h"
#include "state.h"

namespace {

void resetPose() {
    rotation_z = 180.0;
    translacao_x = 341.0;
    translacao_y = -830.0;
    translacao_z = -60.0;
}

}  // namespace

TEST(ShipKeys, HeightStepsStopAtTheBoard) {
    resetPose();
    keyboard('A', 0, 0);
    EXPECT_EQ(translacao_z, -30.0);
    keyboard('a', 0, 0);
    EXPECT_EQ(translacao_z, 0.0);
    keyboard('A', 0, 0);
    EXPECT_EQ(translacao_z, 0.0);
    keyboard('s', 0, 0);
    EXPECT_EQ(translacao_z, -30.0);
    keyboard('S', 0, 0);
    EXPECT_EQ(translacao_z, -60.0);
}

TEST(ShipKeys, ResetKeysGoToBoardOriginKeepingHeading) {
    for (unsigned char key : {'O', 'o', 'P', 'p'}) {
        resetPose();
        rotation_z = 36.0;
        keyboard(key, 0, 0);
        EXPECT_EQ(translacao_x, 0.0);
        EXPECT_EQ(translacao_y, 0.0);
        EXPECT_EQ(translacao_z, 0.0);
        EXPECT_EQ(rotation_z, 36.0);
    }
}

TEST(ShipKeys, HeadingWrapsOnlyAboveAndTurnsFreelyBelow) {
    resetPose();
    for (int i = 0; i < 9; ++i) keyboard_s(kKeyLeft, 0, 0);
    EXPECT_EQ(rotation_z, 342.0);
    keyboard_s(kKeyLeft, 0, 0);
    EXPECT_EQ(rotation_z, 0.0);
    keyboard_s(kKeyLeft, 0, 0);
    EXPECT_EQ(rotation_z, 18.0);
    keyboard_s(kKeyRight, 0, 0);
    keyboard_s(kKeyRight, 0, 0);
    EXPECT_EQ(rotation_z, -18.0);
}

// A scene's own turn step: past 359 the heading comes round by a full turn
// and the ship keeps turning the same way.
TEST(ShipKeys, AnyTurnStepWrapsByAFullTurn) {
    resetPose();
    double savedStep = rotation_z_increment;
    rotation_z_increment = 25.0;
    rotation_z = 350.0;
    keyboard_s(kKeyLeft, 0, 0);
    EXPECT_EQ(rotation_z, 15.0);
    rotation_z = 359.0;
    keyboard_s(kKeyLeft, 0, 0);
    EXPECT_EQ(rotation_z, 24.0);
    keyboard_s(kKeyRight, 0, 0);
    keyboard_s(kKeyRight, 0, 0);
    EXPECT_EQ(rotation_z, -26.0);
    rotation_z_increment = savedStep;
}

TEST(ShipKeys, UpMovesOneSquareAlongTheNoseAndDownComesBack) {
    resetPose();
    keyboard_s(kKeyUp, 0, 0);
    // Heading 180: the nose points to smaller board X, which is translacao_y / -50.
    EXPECT_NEAR(translacao_y, -780.0, 1e-6);
    EXPECT_NEAR(translacao_x, 341.0, 1e-6);
    keyboard_s(kKeyDown, 0, 0);
    EXPECT_NEAR(translacao_y, -830.0, 1e-9);
    EXPECT_NEAR(translacao_x, 341.0, 1e-9);
    rotation_z = 90.0;  // nose along board +Y, which is translacao_x / 50
    keyboard_s(kKeyUp, 0, 0);
    EXPECT_NEAR(translacao_x, 391.0, 1e-6);
    EXPECT_EQ(translacao_z, -60.0);
}

TEST(ShipKeys, OtherKeysChangeNothing) {
    resetPose();
    for (int key : {int('x'), int('q'), int(' '), 27, 200}) keyboard(static_cast<unsigned char>(key), 0, 0);
    for (int key : {1, 99, 104, 105}) keyboard_s(key, 0, 0);
    EXPECT_EQ(rotation_z, 180.0);
    EXPECT_EQ(translacao_x, 341.0);
    EXPECT_EQ(translacao_y, -830.0);
    EXPECT_EQ(translacao_z, -60.0);
}

TEST(ShipDrawing, TrianglesNamingMissingVerticesAreSkipped) {
    OffscreenGL gl;
    ASSERT_TRUE(createOffscreenGL(64, 64, &gl));
    object = obj_type{};
    object.vertex_count = 3;
    object.polygon_count = 2;
    // A triangle over the whole view, and one that names vertex 7999.
    object.vertices[0] = {-100, -100, 0};
    object.vertices[1] = {100, -100, 0};
    object.vertices[2] = {0, 100, 0};
    object.vertices[7999] = {0, 0, 0};
    object.polygons[0] = {0, 1, 7999};
    object.polygons[1] = {7999, 1, 2};
    object.texture_id = 0;
    const unsigned char white[4] = {255, 255, 255, 255};
    glBindTexture(GL_TEXTURE_2D, 0);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, white);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    // Undo the ship's fixed turns so that its mesh plane faces the view.
    glRotatef(-90, 0, 0, 1);
    glRotatef(-90, 1, 0, 0);
    rotation_z = translacao_x = translacao_y = translacao_z = 0.0;
    drawShip();
    unsigned char pixels[64 * 64 * 4];
    glReadPixels(0, 0, 64, 64, GL_RGBA, GL_UNSIGNED_BYTE, pixels);
    int lit = 0;
    for (int i = 0; i < 64 * 64; ++i) lit += pixels[4 * i] != 0;
    EXPECT_EQ(lit, 0);

    object.polygons[0] = {0, 1, 2};  // a valid triangle does show
    glClear(GL_COLOR_BUFFER_BIT);
    drawShip();
    glReadPixels(0, 0, 64, 64, GL_RGBA, GL_UNSIGNED_BYTE, pixels);
    for (int i = 0; i < 64 * 64; ++i) lit += pixels[4 * i] != 0;
    EXPECT_GT(lit, 0);
    destroyOffscreenGL(&gl);
}

TEST(KeyTable, OneTableServesTheWindowArrenderAndTheHelp) {
    // Every action has a line in the help, and every replayable key a name
    // that --keys takes back to the same key, in either case.
    const std::string help = keysHelp();
    for (std::size_t i = 0; i < kKeyCount; ++i) {
        const KeyBinding& k = kKeyTable[i];
        SCOPED_TRACE(k.name);
        EXPECT_NE(help.find(k.name), std::string::npos);
        KeyAction action;
        ASSERT_TRUE(findKey(k.special, k.code, &action));
        EXPECT_EQ(action, k.action);
        if (!k.special) {
            ASSERT_TRUE(findKey(false, std::toupper(k.code), &action));
            EXPECT_EQ(action, k.action);
        }
        std::string lower = k.name;
        for (char& c : lower) c = char(std::tolower(c));
        const KeyBinding* named = keyNamed(lower);
        EXPECT_EQ(named != nullptr, k.replayable);
        if (named) {
            EXPECT_EQ(named->code, k.code);
        }
    }
    EXPECT_EQ(replayableKeyNames(), "A S O P Left Right Up Down");
    KeyAction action;
    EXPECT_FALSE(findKey(false, 'x', &action));
    EXPECT_FALSE(findKey(true, 'a', &action));  // a special code is not a character
}
