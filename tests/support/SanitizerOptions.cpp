// Berkeley DB takes its internal latches in an order that depends on the pages involved (a
// write takes a bucket latch, then a page latch; a flush at close the other way round). The
// thread sanitizer cannot see that these never run at once on one handle and reports a
// potential deadlock inside the library. Set here so that ctest and a run by hand agree.
extern "C" const char* __tsan_default_suppressions() {
    return "deadlock:libdb-5.3.so\ndeadlock:libdb_cxx-5.3.so\n";
}
