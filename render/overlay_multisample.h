// overlay_multisample.h - the overlay's edges smoothed: what is drawn between
// beginOverlayMultisample and endOverlayMultisample goes into a buffer of 4
// samples per pixel, a regular 2 x 2 grid (supersampling), covering only
// the overlay's box on the screen (the caster's bounds projected, a few
// pixels wider), with the occluders' depth drawn into it first, so that real
// objects still hide the model. Averaged down (each pixel the mean of its 4
// samples), it is laid over the picture with its coverage as opacity: the
// model's silhouette blends into the video, pixels it does not touch keep
// the video exactly. A grid rather than GL's multisampling: llvmpipe's
// multisampled rasteriser costs per triangle, twice the frame time of a
// 100,000-triangle model at 640 x 480, where the grid costs per pixel of the
// box, which is why the box is no larger than the overlay. Buffers: 2 x 2
// times the picture, colour and depth (66 MB at 1920 x 1080), for pictures up
// to 4096 pixels wide and tall.
//
// Threads: the GL context's thread only.
//
// Usage:
//     OverlayMultisample ms;
//     if (!setUpOverlayMultisample(width, height, &ms)) { /* one line said; drawn as usual */ }
//     if (beginOverlayMultisample(&ms, corners, scene.occluders)) { drawModel(); endOverlayMultisample(&ms); }
#ifndef RENDER_OVERLAY_MULTISAMPLE_H
#define RENDER_OVERLAY_MULTISAMPLE_H

#include <vector>

#include "scene.h"

constexpr int kOverlaySamples = 4;
constexpr int kOverlayGrid = 2;  // the samples as a 2 x 2 grid in each pixel
// Pixels; a wider or taller grid (a picture over 4096 pixels) is refused:
// its buffers would take 2 GB.
constexpr int kMaxOverlayGridSide = 8192;

struct OverlayMultisample {
    int width = 0, height = 0;        // the picture's, and the buffers' largest size
    unsigned sampledFramebuffer = 0;  // colour and depth renderbuffers, kOverlayGrid x kOverlayGrid times the picture
    unsigned sampledColour = 0, sampledDepth = 0;
    unsigned resolvedFramebuffer = 0, resolvedTexture = 0;
    int box[4] = {};  // x, y, width, height in window pixels (y up)
    int savedViewport[4] = {};
    int savedFramebuffer = 0;
    bool drawing = false;
};

// Buffers for a width x height picture; false with one line on standard
// error (nothing left allocated) when this GL cannot multisample.
bool setUpOverlayMultisample(int width, int height, OverlayMultisample* ms);

// With the camera's board frame loaded: the box of the 8 corners (board
// frame) on the screen, the whole picture when they reach behind the
// camera. False when the box misses the picture: nothing of the overlay can
// show, and nothing is bound. Otherwise the multisampled buffer is bound,
// cleared, holds the occluders' depth, and the projection is narrowed to the
// box: the caller draws the overlay and then calls endOverlayMultisample.
bool beginOverlayMultisample(OverlayMultisample* ms, const float corners[8][3], const std::vector<Occluder>& occluders);

// Resolves and lays the box over the picture; framebuffer, viewport and
// matrices as before.
void endOverlayMultisample(OverlayMultisample* ms);

void releaseOverlayMultisample(OverlayMultisample* ms);

#endif
