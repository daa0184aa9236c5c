// Leaks inside the system's graphics, font, D-Bus and X libraries are not ours to fix: the
// sanitizer builds of the program and of the tests tell LeakSanitizer to pass over them, so
// that everything built from this repository is still checked.
#pragma once

inline constexpr const char* SystemLibraryLeaks = "leak:libGLX_mesa.so\n"
                                                  "leak:libGLX.so\n"
                                                  "leak:libEGL_mesa.so\n"
                                                  "leak:libgallium\n"
                                                  "leak:swrast_dri.so\n"
                                                  "leak:libLLVM\n"
                                                  "leak:libfontconfig.so\n"
                                                  "leak:libX11.so\n"
                                                  "leak:libxcb.so\n"
                                                  "leak:libdbus-1.so\n"
                                                  "leak:libglib-2.0.so\n";
