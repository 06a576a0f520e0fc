# What a Windows build (the mingw-w64 toolchains in cmake/toolchains) uses in place
# of the build machine's packages: OpenSSL built from Debian's source package by
# scripts/openssl-windows.sh (VANTIRO_OPENSSL_ROOT, which scripts/build.sh sets),
# GoogleTest built here from Debian's source package, and the header-only packages of
# the build machine.
if(NOT VANTIRO_OPENSSL_ROOT)
  message(FATAL_ERROR "A Windows build needs VANTIRO_OPENSSL_ROOT: OpenSSL for this target, as "
                      "scripts/openssl-windows.sh builds it (scripts/build.sh windows-x64 does both)")
endif()
# Another OpenSSL (a new version, other options) is found afresh, not from the cache.
if(NOT "${VANTIRO_OPENSSL_ROOT}" STREQUAL "${VANTIRO_OPENSSL_ROOT_FOUND}")
  foreach(cached OPENSSL_INCLUDE_DIR OPENSSL_SSL_LIBRARY OPENSSL_CRYPTO_LIBRARY LIB_EAY SSL_EAY
                 LIB_EAY_DEBUG LIB_EAY_RELEASE SSL_EAY_DEBUG SSL_EAY_RELEASE)
    unset(${cached} CACHE)
  endforeach()
  set(VANTIRO_OPENSSL_ROOT_FOUND "${VANTIRO_OPENSSL_ROOT}" CACHE INTERNAL "")
endif()
set(OPENSSL_ROOT_DIR ${VANTIRO_OPENSSL_ROOT})
set(OPENSSL_USE_STATIC_LIBS TRUE)
list(APPEND CMAKE_FIND_ROOT_PATH ${VANTIRO_OPENSSL_ROOT})
find_package(OpenSSL 3 REQUIRED)
# Static libcrypto calls Winsock, the certificate store and the system's random source.
foreach(openssl_target OpenSSL::Crypto OpenSSL::SSL)
  set_property(TARGET ${openssl_target} APPEND PROPERTY INTERFACE_LINK_LIBRARIES ws2_32 crypt32 bcrypt)
endforeach()

# The compiler's run-time DLLs beside the programs, where the toolchain links them
# shared (32-bit).
if(VANTIRO_MINGW_SHARED_RUNTIME)
  foreach(runtime libgcc_s_dw2-1.dll libstdc++-6.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${runtime}
                    OUTPUT_VARIABLE runtime_path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${runtime_path}" OR NOT EXISTS "${runtime_path}")
      message(FATAL_ERROR "The compiler's run-time ${runtime} was not found")
    endif()
    file(COPY "${runtime_path}" DESTINATION "${CMAKE_RUNTIME_OUTPUT_DIRECTORY}")
  endforeach()
endif()

# Resource scripts (a module's VERSIONINFO) with the toolchain's windres.
enable_language(RC)

# <windows.h> without its min and max macros and the rarely used parts.
add_compile_definitions(NOMINMAX WIN32_LEAN_AND_MEAN)
# COM interface methods and a server module's entry points are __stdcall on 32-bit
# Windows (elsewhere the convention is the platform's only one).
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  add_compile_definitions("QMOS_COM_CALL=__attribute__((__stdcall__))")
endif()

set(VANTIRO_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest's source (Debian's googletest package)")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${VANTIRO_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
foreach(gtest_target gtest gtest_main gmock gmock_main)
  # Not the project's code: its warnings are not the project's errors.
  target_compile_options(${gtest_target} PRIVATE -w)
endforeach()
# GoogleTest's own list names them GTest::gtest, GTest::gmock and so on already.

find_package(nlohmann_json REQUIRED PATHS /usr/share/cmake NO_CMAKE_FIND_ROOT_PATH)
find_package(CLI11 REQUIRED PATHS /usr/share/cmake NO_CMAKE_FIND_ROOT_PATH)
# Their targets name the build machine's include folder (/usr/include), whose C
# headers must not reach the cross compiler: they name a folder of this build that
# holds links to their own header folders only.
set(vantiro_host_headers ${CMAKE_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${vantiro_host_headers})
foreach(header_target IN ITEMS nlohmann_json::nlohmann_json:nlohmann CLI11::CLI11:CLI)
  string(REGEX MATCH "^(.*):([^:]*)$" header_target "${header_target}")
  get_target_property(header_dirs ${CMAKE_MATCH_1} INTERFACE_INCLUDE_DIRECTORIES)
  list(GET header_dirs 0 header_dir)
  file(CREATE_LINK ${header_dir}/${CMAKE_MATCH_2} ${vantiro_host_headers}/${CMAKE_MATCH_2} SYMBOLIC)
  set_target_properties(${CMAKE_MATCH_1} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${vantiro_host_headers})
endforeach()
