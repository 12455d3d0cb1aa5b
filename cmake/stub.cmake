# The setup stub: a 32-bit GUI executable without the C runtime's start-up.
set(LZMA_PREFIX ${CMAKE_SOURCE_DIR}/build/mingw-lzma CACHE PATH "cross-built liblzma")
find_package(Python3 REQUIRED COMPONENTS Interpreter)

# -Oz keeps the stub within its size budget; the code that runs per byte or
# per file (checksum, install run, progress, log) is kept at -Os for speed.
set(STUB_OPTIMIZE -Oz CACHE STRING "optimisation of the stub's own code")
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  # Only the Wine tests build the stub this way (see CMakeLists.txt).
  set(STUB_MARCH -march=x86-64)
  set(DLLTOOL x86_64-w64-mingw32-dlltool)
  set(STUB_ENTRY ProcessEntry)
  set(STUB_ARCH_LINK_OPTIONS)
else()
  # Windows keeps the 32-bit stack to 4 bytes; GCC's 16 costs every
  # function that aligns its frame (400 bytes in all).
  set(STUB_MARCH -march=i686 -mpreferred-stack-boundary=2)
  set(DLLTOOL i686-w64-mingw32-dlltool -k)
  set(STUB_ENTRY _ProcessEntry@0)
  # Under WOW64 the whole package lives in memory: take 4 GiB of address space.
  # The load configuration (startup/load_config_win32.cpp) survives
  # --gc-sections as an undefined symbol and is found in the map.
  set(STUB_ARCH_LINK_OPTIONS -Wl,--large-address-aware -Wl,--no-seh -Wl,--undefined=__load_config_used
    -Wl,-Map=${CMAKE_BINARY_DIR}/setup-stub.map)
  set(STUB_LOAD_CONFIG_SYMBOL _load_config_used)  # as the map shows it
endif()
# Without frame pointers, as the C runtime and Windows' own images are
# built: 300 bytes of prologues and epilogues fewer. Without jump tables:
# a switch's table costs a pointer and a relocation per case.
set(STUB_COMPILE_OPTIONS ${STUB_OPTIMIZE} -fomit-frame-pointer -fno-jump-tables -ffunction-sections -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
  -fno-threadsafe-statics -fno-stack-protector ${STUB_MARCH} -mtune=generic -Wall -Wextra -Wmissing-declarations -Wno-cast-function-type
  -DWIN32_LEAN_AND_MEAN -DUNICODE -D_UNICODE -D_WIN32_WINNT=0x0501 -DWINVER=0x0501 -DLZMA_API_STATIC)

# Import libraries that bind by ordinal (the functions have no name export on
# some Windows versions).
set(ORDINAL_LIBS)
foreach(lib shell32 comctl32 shlwapi)
  set(out ${CMAKE_BINARY_DIR}/lib${lib}_ordinals.a)
  add_custom_command(OUTPUT ${out}
    COMMAND ${DLLTOOL} -d ${CMAKE_SOURCE_DIR}/resources/${lib}_ordinals.def -l ${out}
    DEPENDS ${CMAKE_SOURCE_DIR}/resources/${lib}_ordinals.def)
  list(APPEND ORDINAL_LIBS ${out})
endforeach()
add_custom_target(ordinal_libs DEPENDS ${ORDINAL_LIBS})

# Generated resources: dialog template and icon, drawn by scripts, and the
# manifest without its indentation.
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/dialog1.bin
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/resources/make_dialog.py ${CMAKE_BINARY_DIR}/dialog1.bin
  DEPENDS ${CMAKE_SOURCE_DIR}/resources/make_dialog.py ${CMAKE_SOURCE_DIR}/resources/dialog_ids.py ${CMAKE_SOURCE_DIR}/ui/dialog_ids.h)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/setup.ico
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/resources/make_icon.py ${CMAKE_BINARY_DIR}/setup.ico
  DEPENDS ${CMAKE_SOURCE_DIR}/resources/make_icon.py)
# The version block and the manifest carry the project's version.
set(STUB_VERSION_TEXT ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH}.0)
configure_file(${CMAKE_SOURCE_DIR}/resources/stub_version.h.in ${CMAKE_BINARY_DIR}/stub_version.h @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/stub-compact.manifest
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/resources/compact_manifest.py
    ${CMAKE_SOURCE_DIR}/resources/stub.manifest ${CMAKE_BINARY_DIR}/stub-compact.manifest ${STUB_VERSION_TEXT}
  DEPENDS ${CMAKE_SOURCE_DIR}/resources/compact_manifest.py ${CMAKE_SOURCE_DIR}/resources/stub.manifest)
set(STUB_RC ${CMAKE_SOURCE_DIR}/resources/stub.rc)
set_source_files_properties(${STUB_RC} PROPERTIES
  OBJECT_DEPENDS "${CMAKE_BINARY_DIR}/dialog1.bin;${CMAKE_BINARY_DIR}/setup.ico;${CMAKE_BINARY_DIR}/stub-compact.manifest;${CMAKE_SOURCE_DIR}/resources/stub_capabilities.h;${CMAKE_BINARY_DIR}/stub_version.h")
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -I${CMAKE_BINARY_DIR} -I${CMAKE_SOURCE_DIR}/resources -I${CMAKE_SOURCE_DIR}")
enable_language(RC)

add_executable(setup WIN32 ${CORE_SOURCES} ${WIN32_SOURCES} ${STUB_RC})
add_dependencies(setup ordinal_libs)
target_include_directories(setup PRIVATE ${CMAKE_SOURCE_DIR} ${LZMA_PREFIX}/include)
target_compile_options(setup PRIVATE ${STUB_COMPILE_OPTIONS})
target_link_options(setup PRIVATE -nostartfiles -nodefaultlibs -static -s
  -Wl,--entry,${STUB_ENTRY} -Wl,--subsystem,windows:5.01
  -Wl,--major-os-version,5 -Wl,--minor-os-version,1 -Wl,--dynamicbase -Wl,--nxcompat
  ${STUB_ARCH_LINK_OPTIONS} -Wl,--gc-sections -Wl,--enable-stdcall-fixup)
target_link_libraries(setup PRIVATE ${ORDINAL_LIBS} ${LZMA_PREFIX}/lib/liblzma.a
  kernel32 user32 gdi32 comctl32 advapi32 shell32 shlwapi ole32 oleaut32 uuid msvcrt gcc)
set_target_properties(setup PROPERTIES OUTPUT_NAME setup-stub SUFFIX .exe)
if(STUB_LOAD_CONFIG_SYMBOL)
  add_custom_command(TARGET setup POST_BUILD
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/resources/set_load_config.py $<TARGET_FILE:setup>
      ${CMAKE_BINARY_DIR}/setup-stub.map ${STUB_LOAD_CONFIG_SYMBOL})
  set_property(TARGET setup APPEND PROPERTY LINK_DEPENDS ${CMAKE_SOURCE_DIR}/resources/set_load_config.py)
endif()
# The files kept at -Os go by path: one renamed or moved would silently be
# built at -Oz, so each must be a source of the stub.
foreach(src package/package_format.cpp package/sha256.cpp install/install_run_win32.cpp install/progress.cpp
    install/log_output_batch.cpp install/log_output_win32.cpp)
  if(NOT ${CMAKE_SOURCE_DIR}/${src} IN_LIST ALL_STUB_SOURCES)
    message(FATAL_ERROR "${src}, to be built at -Os, is not a source of the stub")
  endif()
  set_source_files_properties(${CMAKE_SOURCE_DIR}/${src} TARGET_DIRECTORY setup PROPERTIES COMPILE_OPTIONS -Os)
endforeach()

# Small Windows programs the tests and benchmarks use (fake product, probes).
file(GLOB HELPER_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/helpers/*.cpp)
foreach(src ${HELPER_SOURCES})
  get_filename_component(name ${src} NAME_WE)
  add_executable(${name} ${src})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR} ${LZMA_PREFIX}/include)
  target_compile_options(${name} PRIVATE -O2 -DUNICODE -D_UNICODE -DLZMA_API_STATIC -municode)
  target_link_options(${name} PRIVATE -static -municode)
  target_link_libraries(${name} PRIVATE ${LZMA_PREFIX}/lib/liblzma.a oleacc ole32 oleaut32 uuid shell32 shlwapi comctl32 user32 gdi32 advapi32)
endforeach()

# The sample product's main program, staged into the sample setup file.
add_executable(sample_app WIN32 ${CMAKE_SOURCE_DIR}/sample/app/sample_app.cpp)
target_compile_options(sample_app PRIVATE -O2 -DUNICODE -D_UNICODE -municode)
target_link_options(sample_app PRIVATE -static -municode)
target_link_libraries(sample_app PRIVATE advapi32 user32)

# Benchmark programs (bench/helpers): like the helpers above, with the portable
# package code linked from a library so that they read setup files the stub's way.
file(GLOB BENCH_HELPER_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/bench/helpers/*.cpp)
if(BENCH_HELPER_SOURCES)
  add_library(bench_core STATIC EXCLUDE_FROM_ALL ${CORE_SOURCES} ${CMAKE_SOURCE_DIR}/package/platform_memory_win32.cpp)
  target_include_directories(bench_core PRIVATE ${CMAKE_SOURCE_DIR} ${LZMA_PREFIX}/include)
  target_compile_options(bench_core PRIVATE ${STUB_COMPILE_OPTIONS})
  foreach(src ${BENCH_HELPER_SOURCES})
    get_filename_component(name ${src} NAME_WE)
    add_executable(${name} ${src})
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR} ${LZMA_PREFIX}/include)
    target_compile_options(${name} PRIVATE -O2 -DUNICODE -D_UNICODE -DLZMA_API_STATIC -municode)
    target_link_options(${name} PRIVATE -static -municode)
    target_link_libraries(${name} PRIVATE bench_core ${LZMA_PREFIX}/lib/liblzma.a)
  endforeach()
endif()

# DLLs that the Wine tests plant beside a setup file or load into its process
# (tests/helpers/dll).
file(GLOB HELPER_DLL_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/helpers/dll/*.cpp)
foreach(src ${HELPER_DLL_SOURCES})
  get_filename_component(name ${src} NAME_WE)
  add_library(${name} SHARED ${src})
  set_target_properties(${name} PROPERTIES PREFIX "" SUFFIX .dll)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_options(${name} PRIVATE -O2 -DUNICODE -D_UNICODE)
  # Exports by their plain names (no stdcall @N), as GetProcAddress asks for them.
  target_link_options(${name} PRIVATE -static -Wl,--kill-at)
endforeach()
