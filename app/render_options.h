// render_options.h - the command line of arrender, the viewer's frame loop
// without a window.
//
// arrender SOURCE [-o out.avi] [--poses poses.csv] [--snapshot N:file.png]...
//          [--keys "FRAME:KEY,..."] [--frames N]
// Frames are counted from 0 (a snapshot may name "last"); keys (A, S, O, P, Left, Right, Up, Down) are
// applied before the frame they name.
//
// Usage:
//     RenderOptions options;
//     std::string error;
//     if (!parseRenderOptions(argc, argv, &options, &error)) fail(error);
#ifndef APP_RENDER_OPTIONS_H
#define APP_RENDER_OPTIONS_H

#include <string>
#include <vector>

struct Snapshot {
    long frame;  // kLastFrame: whichever frame comes last
    std::string path;
};
constexpr long kLastFrame = -1;

// A key press as the viewer's keyboard callbacks receive it.
struct KeyPress {
    long frame;
    bool special;  // true: a special-key code, false: a character
    int code;
};

struct RenderOptions {
    bool help = false;
    std::string source;
    std::string videoPath;  // empty: no video written
    std::string posesPath;  // empty: no poses written
    std::vector<Snapshot> snapshots;
    std::vector<KeyPress> keys;
    long frameLimit = -1;  // -1: every frame of the source
};

extern const char* const kRenderUsage;

// False with a one-line reason when the command line cannot be used.
bool parseRenderOptions(int argc, char** argv, RenderOptions* options, std::string* error);

#endif
