# The packer as a static Windows program, from the same sources as the native
# one: the portable core and the packer library, with toml++, nlohmann/json
# and a cross-built liblzma that has the LZMA1 encoder.
set(LZMA64_PREFIX ${CMAKE_SOURCE_DIR}/build/mingw64-lzma CACHE PATH "cross-built liblzma with the encoder")

# The header-only libraries are Debian's native packages; only their own
# folders are put on the include path, not the rest of /usr/include.
set(HEADER_LINKS ${CMAKE_BINARY_DIR}/host-headers)
foreach(dir toml++ nlohmann)
  if(NOT EXISTS /usr/include/${dir})
    message(FATAL_ERROR "/usr/include/${dir} is missing: run scripts/bootstrap.sh")
  endif()
  file(MAKE_DIRECTORY ${HEADER_LINKS})
  file(CREATE_LINK /usr/include/${dir} ${HEADER_LINKS}/${dir} SYMBOLIC)
endforeach()

file(GLOB PACKER_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/packer/*.cpp)
add_executable(packer ${PACKER_SOURCES} ${CORE_SOURCES} ${NATIVE_SOURCES})
target_include_directories(packer PRIVATE ${CMAKE_SOURCE_DIR} ${LZMA64_PREFIX}/include)
target_include_directories(packer SYSTEM PRIVATE ${HEADER_LINKS})
target_compile_options(packer PRIVATE -O2 -Wall -Wextra -Wmissing-declarations)
# 64-bit file offsets in stdio; liblzma linked statically.
target_compile_definitions(packer PRIVATE _FILE_OFFSET_BITS=64 LZMA_API_STATIC PACKER_VERSION="${PROJECT_VERSION}")
# wmain: the command line arrives as UTF-16.
target_link_options(packer PRIVATE -static -s -municode)
target_link_libraries(packer PRIVATE ${LZMA64_PREFIX}/lib/liblzma.a)
