// Settings the sanitizers read from the test programs themselves, so that every way of
// running a test (ctest, the binary by hand) sees the same ones.

extern "C" {

// Berkeley DB takes its internal latches in an order that depends on the pages involved
// (a write takes a bucket latch and then a page latch, a flush at close the other way round).
// The thread sanitizer cannot see that these never run concurrently on one handle and calls
// it a potential deadlock; the reports are about the library's own locking, not ours.
const char* __tsan_default_suppressions() {
    return "deadlock:libdb-5.3.so\n"
           "deadlock:libdb_cxx-5.3.so\n";
}

}  // extern "C"
