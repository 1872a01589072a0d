// gl_program.h - a GLSL program from its two sources, for the drawing that
// the fixed-function pipeline cannot do (shadows).
//
// Threads: the GL context's thread; a context must be current.
//
// Usage:
//     std::string problem;
//     unsigned program = buildGlProgram(kVertex, kFragment, &problem);
//     if (!program) { /* one line in problem; draw without it */ }
#ifndef RENDER_GL_PROGRAM_H
#define RENDER_GL_PROGRAM_H

#include <string>

// The linked program's name, or 0 with the first line of the compiler's or
// linker's log in *problem (nothing left allocated).
unsigned buildGlProgram(const char* vertexSource, const char* fragmentSource, std::string* problem);

#endif
