// OpenGL entry points beyond OpenGL 1.1, looked up in the current context.
#pragma once

// Null when the running OpenGL does not offer `name`.
void* PlatGlGetProcAddress(const char* name);
