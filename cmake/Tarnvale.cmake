# Shared build settings and helpers for every target of the project.

set(TARNVALE_WARNINGS -Wall -Wextra -Wpedantic)
if(TARNVALE_WERROR)
  list(APPEND TARNVALE_WARNINGS -Werror)
endif()
# g++ 12 takes the frame allocator of Asio's coroutines for a mismatched new/delete pair when
# optimising (a false positive), which would fail every optimised build with coroutines.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  list(APPEND TARNVALE_WARNINGS -Wno-mismatched-new-delete)
endif()

if(TARNVALE_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
if(TARNVALE_TSAN)
  # Asio's fenced blocks use atomic_thread_fence, which g++ warns TSan cannot model; the queues
  # do not rely on those fences for their own ordering.
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer -Wno-tsan)
  add_link_options(-fsanitize=thread)
endif()
if(TARNVALE_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "TARNVALE_FUZZ needs clang (configure with CXX=clang++-16)")
  endif()
  # clang 16 implements what libstdc++ 12's <expected> needs but still announces the older concepts
  # level, which hides std::expected; announce the level it supports.
  add_compile_options(-Wno-macro-redefined -D__cpp_concepts=202002L)
  # Asio 1.22 looks for clang's pre-standard coroutine macro and so misses clang 16's C++20
  # coroutines; say that they are there, so code with asio::awaitable builds here too.
  add_compile_options(-DASIO_HAS_CO_AWAIT=1 -DASIO_HAS_STD_COROUTINE=1)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# Applies the project's warnings and include root to a target.
function(tarnvale_target_defaults target)
  target_compile_options(${target} PRIVATE ${TARNVALE_WARNINGS})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
endfunction()

# tarnvale_library(name SOURCES ... DEPS ...): a static library of the project.
function(tarnvale_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  tarnvale_target_defaults(${name})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

# tarnvale_test(name SOURCES ... DEPS ... [LABELS ...] [RESOURCE_LOCK ...]): a GoogleTest program
# registered with CTest, one CTest test per test case.
function(tarnvale_test name)
  if(NOT TARNVALE_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;LABELS;RESOURCE_LOCK" ${ARGN})
  # The ThreadSanitizer build runs only the tests labelled "threads"; skip building the rest.
  if(TARNVALE_TSAN AND NOT "threads" IN_LIST ARG_LABELS)
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  tarnvale_target_defaults(${name})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock GTest::gtest_main)
  set(props TIMEOUT 300)
  if(ARG_LABELS)
    list(APPEND props LABELS "${ARG_LABELS}")
  endif()
  if(ARG_RESOURCE_LOCK)
    list(APPEND props RESOURCE_LOCK "${ARG_RESOURCE_LOCK}")
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES ${props})
endfunction()

# tarnvale_bench(name SOURCES ... DEPS ...): a Google Benchmark program (not run by CTest).
function(tarnvale_bench name)
  if(NOT TARNVALE_BENCH)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  tarnvale_target_defaults(${name})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} benchmark::benchmark)
endfunction()

# Adds every direct sub-folder of the current folder that has a CMakeLists.txt, so that
# independent test, benchmark and fuzz folders need no shared list.
function(tarnvale_add_child_dirs)
  file(GLOB children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}
       ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(child ${children})
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${child}
       AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()
