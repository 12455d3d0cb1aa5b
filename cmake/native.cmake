# Native build: the portable core, the packer, unit tests, fuzzing and the
# Wine tests that drive the cross-built stub.
find_package(PkgConfig REQUIRED)
pkg_check_modules(LZMA REQUIRED IMPORTED_TARGET liblzma)
pkg_check_modules(TOMLPP REQUIRED IMPORTED_TARGET tomlplusplus)
find_package(nlohmann_json 3 REQUIRED)
find_package(GTest REQUIRED)
find_package(Python3 REQUIRED COMPONENTS Interpreter)
find_package(Threads REQUIRED)

option(SANITIZE "build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(FUZZ "build the libFuzzer targets (clang)" OFF)
set(WIN_BUILD_DIR ${CMAKE_SOURCE_DIR}/build/win CACHE PATH "where the cross-built stub lives")
set(WIN_PACKER_BUILD_DIR ${CMAKE_SOURCE_DIR}/build/win-packer CACHE PATH "where the Windows packer lives")

add_compile_options(-Wall -Wextra)
if(SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()
if(FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

add_library(core STATIC ${CORE_SOURCES} ${NATIVE_SOURCES})
target_include_directories(core PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(core PUBLIC PkgConfig::LZMA)

file(GLOB PACKER_LIB_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/packer/*.cpp)
list(FILTER PACKER_LIB_SOURCES EXCLUDE REGEX "packer_main\\.cpp$")
add_library(packerlib STATIC ${PACKER_LIB_SOURCES})
target_link_libraries(packerlib PUBLIC core PkgConfig::TOMLPP nlohmann_json::nlohmann_json Threads::Threads)
# A function without a declaration is file-local (an anonymous namespace) or
# declared in its header.
set(DECLARATION_WARNINGS -Wmissing-declarations)
target_compile_options(packerlib PRIVATE ${DECLARATION_WARNINGS})
target_compile_definitions(packerlib PUBLIC PACKER_VERSION="${PROJECT_VERSION}")
add_executable(packer ${CMAKE_SOURCE_DIR}/packer/packer_main.cpp)
target_link_libraries(packer PRIVATE packerlib)
target_compile_options(packer PRIVATE ${DECLARATION_WARNINGS})

enable_testing()
if(FUZZ)
  file(GLOB FUZZ_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/fuzz/*.cpp)
  foreach(src ${FUZZ_SOURCES})
    get_filename_component(name ${src} NAME_WE)
    add_executable(${name} ${src})
    target_link_libraries(${name} PRIVATE packerlib)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  endforeach()
else()
  file(GLOB UNIT_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/*.cpp)
  add_executable(unit_tests ${UNIT_SOURCES})
  target_link_libraries(unit_tests PRIVATE packerlib GTest::gtest GTest::gtest_main)
  include(GoogleTest)
  gtest_discover_tests(unit_tests DISCOVERY_TIMEOUT 60)
  # No include goes up the order of the rooms.
  add_test(NAME layers COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/scripts/check_layers.py ${CMAKE_SOURCE_DIR})
  # Debian's python3, not the first on PATH (a pyenv one may be): it is the
  # one that imports python3-yaml and python3-jsonschema.
  set(SYSTEM_PYTHON3 /usr/bin/python3 CACHE FILEPATH "python3 with Debian's yaml and jsonschema modules")
  add_test(NAME winget_schema
    COMMAND ${SYSTEM_PYTHON3} ${CMAKE_SOURCE_DIR}/tests/winget/check_winget.py $<TARGET_FILE:packer>
            ${CMAKE_SOURCE_DIR} ${WIN_BUILD_DIR})

  # Wine tests need the cross-built stub; each test file is one ctest entry.
  if(NOT SANITIZE)
    file(GLOB WINE_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/wine/test_*.py)
    foreach(t ${WINE_TESTS})
      get_filename_component(name ${t} NAME_WE)
      add_test(NAME wine.${name}
        COMMAND ${Python3_EXECUTABLE} -m unittest -v ${name}
        WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}/tests/wine)
      set_tests_properties(wine.${name} PROPERTIES
        ENVIRONMENT "NATIVE_BUILD_DIR=${CMAKE_BINARY_DIR};WIN_BUILD_DIR=${WIN_BUILD_DIR};WIN_PACKER_BUILD_DIR=${WIN_PACKER_BUILD_DIR}"
        RESOURCE_LOCK wine TIMEOUT 1500 LABELS wine)
    endforeach()
  endif()
endif()
