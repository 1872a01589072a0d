// video_surface.h - the video's way into the frame: the pixel buffer (8-bit
// BGR, stored row 0 at the top) copied over the whole framebuffer, colour
// only, so that the depth already drawn (the phantom buildings) stays.
//
// The picture goes through a texture of the video's size, filled with the
// rows last first (OpenGL's order) and copied onto the framebuffer with
// glBlitFramebuffer, which llvmpipe does as a plain copy. glDrawPixels, the
// obvious call, makes and zero-fills a new texture of the picture's size on
// every call there: 20 ms and more per frame at 1920 x 1080
// (bench/video_draw_bench).
//
// State: the texture, its framebuffer and a work area, private to this
// module. Threads: the GL context's thread only.
//
// Usage:
//     setUpVideoBackground(640, 480);           // once the GL context is current
//     drawVideoBackground(pixels, 640, 480);    // display stage
#ifndef RENDER_VIDEO_SURFACE_H
#define RENDER_VIDEO_SURFACE_H

void setUpVideoBackground(int width, int height);

// Display stage: width x height x 3 bytes over the whole window, writing no depth.
void drawVideoBackground(const unsigned char* pixels, int width, int height);

#endif
