# Imported targets for the system libraries, so that each layer links only what it uses.

find_package(Threads REQUIRED)

# Loki: Debian's 0.1.7 headers need a threading macro for the lockable policies, and with
# it they do not compile under g++ 12 (a value returned from a void function in
# Threads.h). -fpermissive turns that into a warning; it stays on the targets that
# include Loki, and -Wno-return-type quietens the same spot under clang.
add_library(loki INTERFACE)
target_compile_definitions(loki INTERFACE LOKI_OBJECT_LEVEL_THREADING)
target_compile_options(loki INTERFACE
    $<$<CXX_COMPILER_ID:GNU>:-fpermissive>
    $<$<CXX_COMPILER_ID:Clang>:-Wno-return-type>)
target_link_libraries(loki INTERFACE /usr/lib/libloki.a Threads::Threads)

find_library(ACE_LIBRARY ACE REQUIRED)
add_library(ace INTERFACE)
target_link_libraries(ace INTERFACE ${ACE_LIBRARY} Threads::Threads)

# Berkeley DB is linked from its static archive where the package has it: as a shared
# library it kept some 2 MB resident from the first moment, most of it pages the dynamic
# loader relocates; linked in, only the parts the program uses come along. Crypto++ is only
# the tests' reference for the program's own AES and SHA-256: linked in, its ciphers pulled
# in most of the library (elliptic curves, big integers), whose static set-up ran and whose
# tables were relocated at every start.
# The thread-sanitizer build keeps the shared libraries: inside the program, Berkeley DB's
# own latches, which it takes in an order of its own, would be checked as the program's
# locks and reported as inversions.
if(FERROCASK_TSAN)
    set(cryptopp_archive "")
    set(bdb_archive "")
else()
    set(cryptopp_archive libcryptopp.a)
    set(bdb_archive libdb_cxx.a)
endif()
find_library(CRYPTOPP_LIBRARY NAMES ${cryptopp_archive} cryptopp REQUIRED)
add_library(cryptopp INTERFACE)
target_link_libraries(cryptopp INTERFACE ${CRYPTOPP_LIBRARY})

find_library(BDB_CXX_LIBRARY NAMES ${bdb_archive} db_cxx REQUIRED)
add_library(bdb INTERFACE)
target_link_libraries(bdb INTERFACE ${BDB_CXX_LIBRARY})
