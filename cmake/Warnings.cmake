# Our own code builds warning-free; dependencies' headers are included as system headers.
function(pelkor_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor>)
endfunction()

# Every .cpp of the current folder and its subfolders, but for the subfolders named after `out`.
function(pelkor_sources out)
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  foreach(excluded IN LISTS ARGN)
    list(FILTER sources EXCLUDE REGEX "^${CMAKE_CURRENT_SOURCE_DIR}/${excluded}/")
  endforeach()
  set(${out} ${sources} PARENT_SCOPE)
endfunction()

# One library target per folder of src/: every .cpp in the folder (and its subfolders).
# EXCLUDE names subfolders that build as libraries of their own.
function(pelkor_library name)
  cmake_parse_arguments(ARG "" "" "DEPS;EXCLUDE" ${ARGN})
  pelkor_sources(sources ${ARG_EXCLUDE})
  if(NOT sources)
    # A folder whose classes are still to come links as headers only.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
    return()
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  pelkor_warnings(${name})
endfunction()

# One test executable per library; tests are discovered one by one for CTest. LABELS is one word:
# "threads" marks the suites that the ThreadSanitizer build runs.
# EXCLUDE names subfolders that build as test executables of their own.
function(pelkor_test name)
  cmake_parse_arguments(ARG "" "" "DEPS;LABELS;EXCLUDE" ${ARGN})
  pelkor_sources(sources ${ARG_EXCLUDE})
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  pelkor_warnings(${name})
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT 120)
endfunction()

# A libFuzzer target over one parser of outside input.
function(pelkor_fuzzer name source)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  add_executable(${name} ${source})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  pelkor_warnings(${name})
endfunction()
