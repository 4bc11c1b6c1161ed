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

find_library(CRYPTOPP_LIBRARY cryptopp REQUIRED)
add_library(cryptopp INTERFACE)
target_link_libraries(cryptopp INTERFACE ${CRYPTOPP_LIBRARY})

find_library(BDB_CXX_LIBRARY db_cxx REQUIRED)
add_library(bdb INTERFACE)
target_link_libraries(bdb INTERFACE ${BDB_CXX_LIBRARY})
