// fontconfig keeps a font pattern cached for the process's life, and libdbus (which Qt's X11 platform
// asks for the desktop's settings) an error buffer, which LeakSanitizer reports as lost once the
// process ends; our own allocations stay checked.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n"
           "leak:libdbus-1.so\n";
}
