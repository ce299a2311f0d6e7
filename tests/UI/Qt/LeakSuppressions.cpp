// fontconfig keeps a font pattern cached for the process's life, which LeakSanitizer reports as
// lost once the tests end; our own allocations stay checked.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}
