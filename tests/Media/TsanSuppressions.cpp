// ThreadSanitizer cannot follow the locking inside system libraries it did not build: libpulse's
// own mutexes, the display lock of libX11 and its RandR and shared-memory extensions after a lost
// connection, and the atomics with which libswscale's slice threads hand rows to each other. Our code
// around them stays checked.
extern "C" const char* __tsan_default_suppressions()
{
    return "race:libpulsecommon\n"
           "race:libpulse.so\n"
           "mutex:libX11.so\n"
           "mutex:libXrandr.so\n"
           "mutex:libXext.so\n"
           "race:libswscale.so\n"
           "race:libavutil.so\n";
}
