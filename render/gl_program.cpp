// gl_program.cpp - compiling and linking, the log's first line on failure.
#include "gl_program.h"

#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>
#include <GL/glext.h>

#include <vector>

namespace {

std::string firstLine(const std::vector<char>& log) {
    std::string text(log.data());
    size_t end = text.find_first_of("\r\n");
    return end == std::string::npos ? text : text.substr(0, end);
}

std::string shaderLog(GLuint shader) {
    GLint length = 0;
    glGetShaderiv(shader, GL_INFO_LOG_LENGTH, &length);
    std::vector<char> log(static_cast<size_t>(length > 0 ? length : 0) + 1, '\0');
    if (length > 0) glGetShaderInfoLog(shader, length, nullptr, log.data());
    return firstLine(log);
}

std::string programLog(GLuint program) {
    GLint length = 0;
    glGetProgramiv(program, GL_INFO_LOG_LENGTH, &length);
    std::vector<char> log(static_cast<size_t>(length > 0 ? length : 0) + 1, '\0');
    if (length > 0) glGetProgramInfoLog(program, length, nullptr, log.data());
    return firstLine(log);
}

GLuint compile(GLenum kind, const char* source, std::string* problem) {
    GLuint shader = glCreateShader(kind);
    if (!shader) {
        *problem = "no shader could be created";
        return 0;
    }
    glShaderSource(shader, 1, &source, nullptr);
    glCompileShader(shader);
    GLint ok = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (ok == GL_TRUE) return shader;
    *problem = (kind == GL_VERTEX_SHADER ? "vertex shader: " : "fragment shader: ") + shaderLog(shader);
    glDeleteShader(shader);
    return 0;
}

}  // namespace

unsigned buildGlProgram(const char* vertexSource, const char* fragmentSource, std::string* problem) {
    GLuint vertex = compile(GL_VERTEX_SHADER, vertexSource, problem);
    if (!vertex) return 0;
    GLuint fragment = compile(GL_FRAGMENT_SHADER, fragmentSource, problem);
    if (!fragment) {
        glDeleteShader(vertex);
        return 0;
    }
    GLuint program = glCreateProgram();
    glAttachShader(program, vertex);
    glAttachShader(program, fragment);
    glLinkProgram(program);
    glDeleteShader(vertex);  // kept alive by the program until it goes
    glDeleteShader(fragment);
    GLint ok = GL_FALSE;
    glGetProgramiv(program, GL_LINK_STATUS, &ok);
    if (ok == GL_TRUE) return program;
    *problem = "link: " + programLog(program);
    glDeleteProgram(program);
    return 0;
}
