// Qt paints and converts large pictures (a grab of the TV-screen window) on threads of its own pool,
// handing the work over with synchronisation inside Qt that ThreadSanitizer cannot follow in a library
// it did not build: accesses made inside such libraries go unchecked; ours stay checked.
extern "C" const char* __tsan_default_options()
{
    return "ignore_noninstrumented_modules=1";
}
