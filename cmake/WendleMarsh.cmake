# Shared helpers for the project's CMake files.

# The environment of every program CTest runs: English texts and en_US formats whatever the
# machine's locale (the C locale reads as en_US), and Qt without a display.
set(WM_TEST_ENVIRONMENT "LC_ALL=C;LANG=;LANGUAGE=;QT_QPA_PLATFORM=offscreen")

function(wm_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic
    -Wnon-virtual-dtor -Wno-missing-field-initializers)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${target} PRIVATE -Wshadow=local)
  endif()
  if(WM_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# wm_public_headers(<target> <name>)
# Makes the headers of src/<name> reachable as "<name>/..." for <target> and for whatever links
# it, and for nothing else: the include folder holds one link, <name> -> src/<name>. A library
# thus sees only the headers of the libraries it names (and of theirs), and an include of any
# other module fails to compile. The folders alone would let a spelling that climbs through the
# link ("core/../storage/...", "../policy/...") or an absolute one reach any header; such
# includes are refused by scripts/check-format.sh, which CI runs, in src, tests, tools, bench
# and fuzz.
function(wm_public_headers target name)
  set(root "${PROJECT_BINARY_DIR}/include/${name}")
  file(MAKE_DIRECTORY "${root}")
  file(CREATE_LINK "${PROJECT_SOURCE_DIR}/src/${name}" "${root}/${name}" SYMBOLIC)
  target_include_directories(${target} PUBLIC "${root}")
endfunction()

# wm_module(<name> SOURCES ... DEPS ... [LIBS ...])
# Builds the library wm_<name> from src/<name>. Its text domain is "wm-<name>".
function(wm_module name)
  cmake_parse_arguments(M "" "" "SOURCES;DEPS;LIBS" ${ARGN})
  add_library(wm_${name} STATIC ${M_SOURCES})
  wm_public_headers(wm_${name} ${name})
  target_compile_definitions(wm_${name} PRIVATE WM_TEXT_DOMAIN="wm-${name}")
  foreach(dep ${M_DEPS})
    target_link_libraries(wm_${name} PUBLIC wm_${dep})
  endforeach()
  if(M_LIBS)
    target_link_libraries(wm_${name} PUBLIC ${M_LIBS})
  endif()
  wm_warnings(wm_${name})
endfunction()

# wm_test(<name> SOURCES ... DEPS ...)
# One GoogleTest executable per test folder, registered with CTest.
function(wm_test name)
  cmake_parse_arguments(T "" "" "SOURCES;DEPS;LIBS" ${ARGN})
  add_executable(test_${name} ${T_SOURCES})
  target_include_directories(test_${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(test_${name} PRIVATE WM_TEXT_DOMAIN="wm-test")
  foreach(dep ${T_DEPS})
    target_link_libraries(test_${name} PRIVATE wm_${dep})
  endforeach()
  target_link_libraries(test_${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  wm_warnings(test_${name})
  include(GoogleTest)
  # Discovery would pass only the first variable of a list-valued property on; a script read
  # after it gives every discovered test the whole environment instead.
  gtest_discover_tests(test_${name} DISCOVERY_TIMEOUT 60 TEST_LIST test_${name}_TESTS)
  set(environment_script "${CMAKE_CURRENT_BINARY_DIR}/test_${name}_environment.cmake")
  file(WRITE "${environment_script}"
    "if(test_${name}_TESTS)\n"
    "  set_tests_properties(\${test_${name}_TESTS} PROPERTIES ENVIRONMENT \"${WM_TEST_ENVIRONMENT}\")\n"
    "endif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${environment_script}")
endfunction()

# wm_bench(<name> SOURCES ... DEPS ...)
function(wm_bench name)
  cmake_parse_arguments(B "" "" "SOURCES;DEPS;LIBS" ${ARGN})
  add_executable(bench_${name} ${B_SOURCES})
  foreach(dep ${B_DEPS})
    target_link_libraries(bench_${name} PRIVATE wm_${dep})
  endforeach()
  target_link_libraries(bench_${name} PRIVATE ${B_LIBS} benchmark::benchmark)
  wm_warnings(bench_${name})
endfunction()

# wm_glob_module(<name> DEPS ... LIBS ...)
# A module library made of every .cpp under src/<name> (subfolders included).
function(wm_glob_module name)
  cmake_parse_arguments(M "" "" "DEPS;LIBS" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp")
  wm_module(${name} SOURCES ${sources} DEPS ${M_DEPS} LIBS ${M_LIBS})
endfunction()

# wm_glob_test(<name> DEPS ... LIBS ...)
# One test executable of every .cpp under tests/<name>.
function(wm_glob_test name)
  cmake_parse_arguments(T "" "" "DEPS;LIBS" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp")
  wm_test(${name} SOURCES ${sources} DEPS ${T_DEPS} LIBS ${T_LIBS})
endfunction()
