// Shadows and the multisampled overlay in an offscreen GL context, seen from
// straight above the board through an orthographic camera: a floating box
// lit from the side darkens the grey "video" where its shadow falls, by the
// strength asked and nowhere else; a tall occluder hides the shadow on the
// board behind it while a low one takes it on its top; the multisampled box
// leaves intermediate colours along a turned box's silhouette and the
// pixels it does not touch exactly as they were.
#include <gtest/gtest.h>

#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>
#include <GL/glext.h>

#include <cmath>
#include <set>

#include "offscreen_gl.h"
#include "overlay_multisample.h"
#include "picture.h"
#include "shadow_map.h"

namespace {

constexpr int kSide = 128;        // pixels
constexpr double kHalfView = 4.0;  // board units either side of the origin
constexpr unsigned char kVideoGrey = 128;
const double kSideLight[3] = {M_SQRT1_2, M_SQRT1_2, 0};  // towards +x and up

// The camera above the board looking down its -y; x to the right, z down
// the picture.
void cameraAbove() {
    glViewport(0, 0, kSide, kSide);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-kHalfView, kHalfView, -kHalfView, kHalfView, -20, 20);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glRotatef(90.0f, 1.0f, 0.0f, 0.0f);
}

Occluder boxFrom(double x0, double x1, double height, double z0, double z1) {
    Occluder o;
    o.corners = {{{x0, 0, z0}, {x0, height, z0}, {x0, height, z1}, {x0, 0, z1},
                  {x1, 0, z0}, {x1, height, z0}, {x1, height, z1}, {x1, 0, z1}}};
    return o;
}

// The caster: a white box x, z in [-0.5, 0.5], 1 to 2 above the board, turned
// about the board's normal.
void casterCorners(float degrees, float corners[8][3]) {
    double c = std::cos(degrees * M_PI / 180), s = std::sin(degrees * M_PI / 180);
    for (int k = 0; k < 8; ++k) {
        double x = (k & 1) ? 0.5 : -0.5, y = (k & 2) ? 2.0 : 1.0, z = (k & 4) ? 0.5 : -0.5;
        corners[k][0] = static_cast<float>(c * x + s * z);
        corners[k][1] = static_cast<float>(y);
        corners[k][2] = static_cast<float>(-s * x + c * z);
    }
}

void drawCaster(const float k[8][3]) {
    static const int faces[6][4] = {{0, 1, 3, 2}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 3, 7, 6}, {0, 2, 6, 4}, {1, 3, 7, 5}};
    glDisable(GL_LIGHTING);
    glColor3f(1, 1, 1);
    glBegin(GL_QUADS);
    for (const auto& f : faces)
        for (int i : f) glVertex3fv(k[i]);
    glEnd();
}

// The "video": grey everywhere, the occluders in depth only, as the frame
// loop leaves them before the model.
void videoWithOccluders(const std::vector<Occluder>& occluders) {
    glClearColor(kVideoGrey / 255.0f, kVideoGrey / 255.0f, kVideoGrey / 255.0f, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    cameraAbove();
    glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_FALSE);
    drawOccluders(occluders);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
}

std::vector<unsigned char> readGrey() {
    std::vector<unsigned char> rgb(kSide * kSide * 3), grey(kSide * kSide);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, kSide, kSide, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
    for (int i = 0; i < kSide * kSide; ++i) grey[i] = rgb[3 * i + 1];
    return grey;
}

// The pixel over board point (x, z).
unsigned char at(const std::vector<unsigned char>& grey, double x, double z) {
    int column = static_cast<int>((x + kHalfView) / (2 * kHalfView) * kSide);
    int row = static_cast<int>((z + kHalfView) / (2 * kHalfView) * kSide);  // glReadPixels' rows, bottom first
    return grey[static_cast<size_t>(row) * kSide + column];
}

std::vector<unsigned char> shadowPicture(const std::vector<Occluder>& occluders, float strength) {
    ShadowMap map;
    EXPECT_TRUE(setUpShadowMap(&map));
    videoWithOccluders(occluders);
    float corners[8][3];
    casterCorners(0, corners);
    ShadowCaster caster;
    for (int k = 0; k < 8; ++k)
        for (int i = 0; i < 3; ++i) caster.corners[k][i] = corners[k][i];
    beginShadowCasting(&map, kSideLight, caster);
    drawCaster(corners);
    endShadowCasting(&map);
    drawShadows(map, occluders, strength);
    std::vector<unsigned char> grey = readGrey();
    releaseShadowMap(&map);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    return grey;
}

}  // namespace

TEST(Shadows, TheBoardIsDarkenedWhereTheShadowFallsAndNowhereElse) {
    std::vector<unsigned char> grey = shadowPicture({}, 0.5f);
    // Lit from +x at 45 degrees, the box's shadow lies 1 to 2 squares to its -x.
    EXPECT_NEAR(at(grey, -1.5, 0.0), kVideoGrey / 2, 3) << "the core of the shadow";
    int darkened = 0, brightened = 0;
    for (int z = 0; z < kSide; ++z)
        for (int x = 0; x < kSide; ++x) {
            double bx = (x + 0.5) / kSide * 2 * kHalfView - kHalfView, bz = (z + 0.5) / kSide * 2 * kHalfView - kHalfView;
            unsigned char v = grey[static_cast<size_t>(z) * kSide + x];
            bool nearShadow = bx > -2.8 && bx < -0.2 && std::fabs(bz) < 0.8;
            if (!nearShadow) {
                EXPECT_EQ(v, kVideoGrey) << "at " << bx << ", " << bz;
            }
            darkened += v < kVideoGrey;
            brightened += v > kVideoGrey;
        }
    EXPECT_GT(darkened, 150);
    EXPECT_EQ(brightened, 0);
    std::vector<unsigned char> faint = shadowPicture({}, 0.25f);
    EXPECT_NEAR(at(faint, -1.5, 0.0), kVideoGrey * 0.75, 3) << "the strength sets the darkening";
    // Soft edges: values between the core and the video across the edge.
    std::set<int> levels;
    for (double z = 0.3; z < 0.8; z += 2 * kHalfView / kSide) levels.insert(at(grey, -1.5, z));
    EXPECT_GE(levels.size(), 3u) << "a hard shadow edge";
}

TEST(Shadows, OccludersHideTheShadowBehindThemAndTakeItOnTheirFaces) {
    // A tall box over the shadow's far half: its top, nearer the light than
    // the caster, stays lit, and the board under it cannot be seen.
    std::vector<unsigned char> tall = shadowPicture({boxFrom(-2.6, -1.6, 3.0, -0.6, 0.6)}, 0.5f);
    EXPECT_EQ(at(tall, -2.1, 0.0), kVideoGrey);
    EXPECT_NEAR(at(tall, -1.0, 0.0), kVideoGrey / 2, 3) << "the shadow beside the box";
    // A low box there takes the shadow on its top.
    std::vector<unsigned char> low = shadowPicture({boxFrom(-2.6, -1.6, 0.3, -0.6, 0.6)}, 0.5f);
    EXPECT_NEAR(at(low, -1.9, 0.0), kVideoGrey / 2, 3);
}

TEST(OverlayMultisample, SilhouettesBlendAndEverythingElseStaysExact) {
    float corners[8][3];
    casterCorners(30, corners);
    auto drawn = [&](bool multisampled) {
        OverlayMultisample ms;
        if (multisampled) {
            EXPECT_TRUE(setUpOverlayMultisample(kSide, kSide, &ms));
        }
        videoWithOccluders({});
        if (!multisampled) {
            drawCaster(corners);
        } else if (beginOverlayMultisample(&ms, corners, {})) {
            drawCaster(corners);
            endOverlayMultisample(&ms);
        }
        std::vector<unsigned char> grey = readGrey();
        releaseOverlayMultisample(&ms);
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
        return grey;
    };
    std::vector<unsigned char> plain = drawn(false), smooth = drawn(true);
    int between = 0, plainBetween = 0, whiteSame = 0, white = 0;
    for (size_t i = 0; i < plain.size(); ++i) {
        plainBetween += plain[i] != kVideoGrey && plain[i] != 255;
        between += smooth[i] != kVideoGrey && smooth[i] != 255;
        if (plain[i] == 255) {
            ++white;
            whiteSame += smooth[i] >= 250;
        }
    }
    EXPECT_EQ(plainBetween, 0);
    EXPECT_GT(between, 24) << "no intermediate colours along the silhouette";
    EXPECT_GT(whiteSame, white * 8 / 10) << "the box's inside is its colour";
    EXPECT_EQ(at(smooth, 3.0, 3.0), kVideoGrey);
    EXPECT_EQ(at(smooth, -3.0, -2.0), kVideoGrey);
    // Occluders still hide the model: one over it all leaves the video.
    OverlayMultisample ms;
    ASSERT_TRUE(setUpOverlayMultisample(kSide, kSide, &ms));
    std::vector<Occluder> cover = {boxFrom(-2, 2, 3.0, -2, 2)};
    videoWithOccluders(cover);
    ASSERT_TRUE(beginOverlayMultisample(&ms, corners, cover));
    drawCaster(corners);
    endOverlayMultisample(&ms);
    std::vector<unsigned char> hidden = readGrey();
    releaseOverlayMultisample(&ms);
    EXPECT_EQ(at(hidden, 0.0, 0.0), kVideoGrey);
}

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    OffscreenGL gl;
    if (!createOffscreenGL(kSide, kSide, &gl)) return 1;
    int result = RUN_ALL_TESTS();
    destroyOffscreenGL(&gl);
    return result;
}
