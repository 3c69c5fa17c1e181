# Cross build for 64-bit Windows with Debian's mingw-w64. The -posix compilers: the -win32
# thread model has no std::mutex, which protobuf's headers need.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ORVANE_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ORVANE_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORVANE_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ORVANE_MINGW_TRIPLET}-windres)
set(CMAKE_MC_COMPILER ${ORVANE_MINGW_TRIPLET}-windmc)

# Libraries and headers for Windows come from the mingw sysroot and from the prefixes named in
# CMAKE_PREFIX_PATH (the Windows builds of POCO and protobuf); programs (protoc) from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${ORVANE_MINGW_TRIPLET})
# The prefix holding the Windows builds of the dependencies, from the environment so that
# CMake's own test projects see it too.
if(DEFINED ENV{ORVANE_WINDOWS_PREFIX})
    list(APPEND CMAKE_FIND_ROOT_PATH $ENV{ORVANE_WINDOWS_PREFIX})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# A static C++ runtime: the programs run under Wine or on Windows without mingw's DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# POCO's headers include <Winsock2.h> and <Iphlpapi.h> with capitals; the build host's file
# system is case-sensitive.
set(CMAKE_C_STANDARD_INCLUDE_DIRECTORIES ${CMAKE_CURRENT_LIST_DIR}/mingw-w64-include)
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES ${CMAKE_CURRENT_LIST_DIR}/mingw-w64-include)
