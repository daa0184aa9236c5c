// Leaks inside the system's graphics, font, D-Bus and X libraries are not ours to fix: the
// sanitizer builds of the program, the server and the tests tell LeakSanitizer to pass over
// them, so that everything built from this repository is still checked. libpqxx 6.4 loses
// libpq's result of a statement whose connection broke (it asks the broken connection for its
// encoding before it takes the result over).
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
                                                  "leak:libglib-2.0.so\n"
                                                  "leak:libpqxx-6.4.so\n";

// Keeps the loaded libraries whose file names contain nameContains (all when null) loaded until
// the process ends. A library unloaded before the leak check leaves frames the checker can no
// longer name, so the suppressions above would miss what it leaked.
void PinLoadedLibraries(const char* nameContains = nullptr);

// In the sanitizer build only: keeps the system's graphics driver (Mesa's "*_dri.so") loaded to
// the end. It is unloaded when the display closes, before the leak check; without it the
// checker reports what the driver keeps for itself as leaks of no known library. Called while
// the display is still open.
void KeepGraphicsDriversForLeakCheck();

// The sanitizer runtime of GCC 12 takes a dynamic TLS block that happens to start 16 bytes
// past a page boundary for one with the header of glibc before 2.25, and reads the two words
// before it as the block's bounds: now and then the leak checker's tracer then crashes at the
// check, after the program has done its work (fixed in later runtimes). Not following
// __tls_get_addr at all can only make the checker report more, never hide a leak.
inline constexpr const char* SanitizerRuntimeOptions = "intercept_tls_get_addr=0";
