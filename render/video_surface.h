// video_surface.h - the video's way into the frame: the pixel buffer (8-bit
// BGR, stored row 0 at the top) copied over the whole framebuffer, colour
// only, so that the depth already drawn (the phantom buildings) stays.
//
// Two ways, the same pixels. Copied (the default): the picture goes into a
// texture, rows last first (OpenGL's order), and is copied onto the
// framebuffer with glBlitFramebuffer, which llvmpipe does as a plain copy.
// Drawn: the picture goes into one of a ring of such textures and is drawn
// as one quad, texel for pixel. llvmpipe draws later than it is told to,
// and any copy into the framebuffer, or filling a texture a frame not yet
// drawn reads, first waits until everything told is drawn: the copy leaves
// the processor idle while the last frame's model is drawn, where the quad
// lets the next frame's work go on meanwhile, at the cost of drawing every
// pixel (about 2 ms at 640 x 480, 13 ms at 1920 x 1080, where the copy takes
// 0.05 and 1.6 ms; bench/video_draw_bench). Which way is faster depends on
// the model and the picture (app/video_way.h tries both). A texture stays
// waited on for up to seven frames there, so the ring holds eight, fewer
// for large pictures (kVideoRingBytes in all, at least two); a ring too
// short costs time (a long wait every round), never a wrong picture. glDrawPixels, the obvious call,
// makes and zero-fills a new texture of the picture's size on every call
// there: 20 ms and more per frame at 1920 x 1080.
//
// State: the textures, the copy's framebuffer and a work area, private to this
// module. Threads: the GL context's thread only.
//
// Usage:
//     setUpVideoBackground(640, 480);           // once the GL context is current
//     drawVideoBackground(pixels, 640, 480);    // display stage
//     setVideoWay(VideoWay::kDrawn);            // between frames
#ifndef RENDER_VIDEO_SURFACE_H
#define RENDER_VIDEO_SURFACE_H

constexpr int kMaxVideoTextures = 8;
constexpr double kVideoRingBytes = 72e6;  // eight 1920 x 1080 pictures

enum class VideoWay { kCopied, kDrawn };

// How many textures the drawn way's ring holds for pictures of this size.
int videoTextureCount(int width, int height);

// The copied way; the drawn way's ring is made when first drawn.
void setUpVideoBackground(int width, int height);

void setVideoWay(VideoWay way);
VideoWay videoWay();

// Display stage: width x height x 3 bytes over the whole window, writing no depth.
void drawVideoBackground(const unsigned char* pixels, int width, int height);

#endif
