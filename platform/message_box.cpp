// message_box.cpp - the error message box on plain Xlib.
//
// Focus: the box asks for the keyboard focus once it is viewable (on its first
// exposure), not when it is mapped: under a reparenting window manager the
// box is mapped inside a frame that may not be mapped yet, and focusing a
// window that is not viewable is an X error (BadMatch) that Xlib's default
// handler turns into exit(1). The manager may still unmap the frame between
// the exposure and the request, so exactly that error from that request is
// also ignored; the box then waits for its next exposure.
#include "message_box.h"

#include <X11/Xlib.h>
#include <X11/Xproto.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <cstdio>
#include <cstring>

namespace {

constexpr int kMargin = 16, kSignSize = 32, kButtonWidth = 80, kButtonHeight = 26;

struct Box {
    Display* display;
    Window window;
    GC gc;
    XFontStruct* font;
    Atom deleteWindow;
    int width, height;
    XRectangle button;
};

unsigned long colour(Display* d, const char* name) {
    XColor c, exact;
    Colormap map = DefaultColormap(d, DefaultScreen(d));
    return XAllocNamedColor(d, map, name, &c, &exact) ? c.pixel : BlackPixel(d, DefaultScreen(d));
}

int textWidth(const Box& box, const char* text) {
    int length = static_cast<int>(std::strlen(text));
    return box.font ? XTextWidth(box.font, text, length) : 6 * length;
}

void layOut(Box* box, const char* text) {
    box->width = kMargin * 3 + kSignSize + textWidth(*box, text);
    if (box->width < 260) box->width = 260;
    box->height = kMargin * 3 + kSignSize + kButtonHeight;
    box->button = {static_cast<short>((box->width - kButtonWidth) / 2),
                   static_cast<short>(box->height - kMargin - kButtonHeight), kButtonWidth, kButtonHeight};
}

bool openBox(Box* box, const char* caption, const char* text) {
    box->display = XOpenDisplay(nullptr);
    if (!box->display) return false;
    Display* d = box->display;
    int screen = DefaultScreen(d);
    box->font = XLoadQueryFont(d, "fixed");
    layOut(box, text);
    box->window = XCreateSimpleWindow(d, RootWindow(d, screen), 200, 200, box->width, box->height, 1,
                                      BlackPixel(d, screen), colour(d, "gray90"));
    XStoreName(d, box->window, caption);
    XSizeHints hints = {};
    hints.flags = PMinSize | PMaxSize;
    hints.min_width = hints.max_width = box->width;
    hints.min_height = hints.max_height = box->height;
    XSetWMNormalHints(d, box->window, &hints);
    box->deleteWindow = XInternAtom(d, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(d, box->window, &box->deleteWindow, 1);
    XSelectInput(d, box->window, ExposureMask | KeyPressMask | ButtonPressMask | StructureNotifyMask);
    box->gc = XCreateGC(d, box->window, 0, nullptr);
    if (box->font) XSetFont(d, box->gc, box->font->fid);
    XMapRaised(d, box->window);
    return true;
}

// A red disc with a white cross, the usual error sign.
void drawErrorSign(const Box& box) {
    Display* d = box.display;
    XSetForeground(d, box.gc, colour(d, "red3"));
    XFillArc(d, box.window, box.gc, kMargin, kMargin, kSignSize, kSignSize, 0, 360 * 64);
    XSetForeground(d, box.gc, WhitePixel(d, DefaultScreen(d)));
    XSetLineAttributes(d, box.gc, 3, LineSolid, CapRound, JoinRound);
    int a = kMargin + 10, b = kMargin + kSignSize - 10;
    XDrawLine(d, box.window, box.gc, a, a, b, b);
    XDrawLine(d, box.window, box.gc, a, b, b, a);
    XSetLineAttributes(d, box.gc, 1, LineSolid, CapButt, JoinMiter);
}

void draw(const Box& box, const char* text) {
    Display* d = box.display;
    XClearWindow(d, box.window);
    drawErrorSign(box);
    XSetForeground(d, box.gc, BlackPixel(d, DefaultScreen(d)));
    XDrawString(d, box.window, box.gc, 2 * kMargin + kSignSize, kMargin + kSignSize / 2 + 4, text,
                static_cast<int>(std::strlen(text)));
    const XRectangle& r = box.button;
    XDrawRectangle(d, box.window, box.gc, r.x, r.y, r.width, r.height);
    XDrawString(d, box.window, box.gc, r.x + (r.width - textWidth(box, "OK")) / 2, r.y + r.height / 2 + 4, "OK", 2);
    XFlush(d);
}

bool insideButton(const Box& box, int x, int y) {
    const XRectangle& r = box.button;
    return x >= r.x && x < r.x + r.width && y >= r.y && y < r.y + r.height;
}

bool dismisses(const Box& box, XEvent& event) {
    switch (event.type) {
        case KeyPress: {
            KeySym key = XLookupKeysym(&event.xkey, 0);
            return key == XK_Return || key == XK_KP_Enter || key == XK_Escape || key == XK_space;
        }
        case ButtonPress: return insideButton(box, event.xbutton.x, event.xbutton.y);
        case ClientMessage: return static_cast<Atom>(event.xclient.data.l[0]) == box.deleteWindow;
        case DestroyNotify: return true;
        default: return false;
    }
}

// The request whose BadMatch may be ignored, and the handler to pass every
// other error to. Xlib's error handlers are process-wide and carry no user
// data, so this lives here, set only while one focus request is in flight.
struct FocusRequest {
    Display* display;
    unsigned long serial;
    bool refused;
    XErrorHandler previous;
};
FocusRequest focusRequest = {};

int ignoreFocusRefusal(Display* display, XErrorEvent* error) {
    if (display == focusRequest.display && error->serial == focusRequest.serial &&
        error->request_code == X_SetInputFocus && error->error_code == BadMatch) {
        focusRequest.refused = true;
        return 0;
    }
    return focusRequest.previous ? focusRequest.previous(display, error) : 0;
}

// True when the focus was taken; false when the window was not viewable,
// when asked or when the request arrived.
bool takeFocus(const Box& box) {
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(box.display, box.window, &attributes) || attributes.map_state != IsViewable)
        return false;
    XSync(box.display, False);  // earlier requests' errors go to the usual handler
    focusRequest = {box.display, NextRequest(box.display), false, nullptr};
    focusRequest.previous = XSetErrorHandler(ignoreFocusRefusal);
    XSetInputFocus(box.display, box.window, RevertToParent, CurrentTime);
    XSync(box.display, False);
    XSetErrorHandler(focusRequest.previous);
    bool taken = !focusRequest.refused;
    focusRequest = {};
    return taken;
}

void closeBox(Box* box) {
    if (box->font) XFreeFont(box->display, box->font);
    XFreeGC(box->display, box->gc);
    XDestroyWindow(box->display, box->window);
    XCloseDisplay(box->display);
}

}  // namespace

void showErrorMessage(const char* caption, const char* text) {
    std::fprintf(stderr, "%s: %s\n", caption, text);
    Box box = {};
    if (!openBox(&box, caption, text)) return;
    bool focused = false;
    for (;;) {
        XEvent event;
        XNextEvent(box.display, &event);
        if (event.type == Expose && event.xexpose.count == 0) {
            draw(box, text);
            if (!focused) focused = takeFocus(box);
        }
        if (dismisses(box, event)) break;
    }
    closeBox(&box);
}
