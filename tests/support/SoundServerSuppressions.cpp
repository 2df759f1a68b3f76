// Linked into every test program that plays through a real sound server.
#if defined(__SANITIZE_THREAD__)
// libpulse is not instrumented: the thread sanitizer sees its lock-free hand-
// offs between the client mainloop thread and ours as races inside the library.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libpulsecommon\nrace:libpulse.so\n";
}
#endif
