// message_box.h - a modal error message: a small window on the X display with
// a caption, an error sign, the text and an OK button, which waits until the
// user presses OK, Enter or Escape, or closes it. The text also goes to
// standard error; with no display, standard error only.
//
// Usage:
//     showErrorMessage("Quorvane", "Image file: spaceshiptexture.bmp not found");
//     std::exit(0);
#ifndef PLATFORM_MESSAGE_BOX_H
#define PLATFORM_MESSAGE_BOX_H

// Returns once the user has dismissed the message (at once without display).
void showErrorMessage(const char* caption, const char* text);

#endif
