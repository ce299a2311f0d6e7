// ThreadSanitizer cannot follow the locking inside system libraries it did not build: libpulse's
// own mutexes, and libX11's display lock after a lost connection. Our code around them stays checked.
extern "C" const char* __tsan_default_suppressions()
{
    return "race:libpulsecommon\n"
           "race:libpulse.so\n"
           "mutex:libX11.so\n";
}
