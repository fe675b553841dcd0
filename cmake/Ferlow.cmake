# Helpers shared by every module: warnings per target, one static library per
# module folder, one GoogleTest executable per module registered with CTest.

function(ferlow_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow
    -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Woverloaded-virtual
    -Wconversion -Wsign-conversion -Wno-sign-conversion)
  if(FERLOW_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# ferlow_add_module(<target> SOURCES ... [DEPS ...])
function(ferlow_add_module target)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${target} STATIC ${ARG_SOURCES})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  target_compile_features(${target} PUBLIC cxx_std_20)
  target_link_libraries(${target} PUBLIC ${ARG_DEPS})
  ferlow_warnings(${target})
endfunction()

# ferlow_add_test(<name> SOURCES ... [DEPS ...] [ENVIRONMENT ...])
function(ferlow_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;ENVIRONMENT" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main Threads::Threads)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_definitions(${name} PRIVATE
    FERLOW_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data")
  ferlow_warnings(${name})
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT 600
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;${ARG_ENVIRONMENT}")
endfunction()

# ferlow_add_bench(<name> SOURCES ... [DEPS ...])
function(ferlow_add_bench name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} benchmark::benchmark benchmark::benchmark_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  ferlow_warnings(${name})
endfunction()

# ferlow_add_fuzzer(<name> SOURCES ... [DEPS ...] [CORPUS dir])
# Under FERLOW_FUZZ (clang) this is a libFuzzer target. Otherwise the same
# entry point is linked with a small driver that replays every file of the
# saved corpus, and that replay runs under CTest.
function(ferlow_add_fuzzer name)
  cmake_parse_arguments(ARG "" "CORPUS" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  ferlow_warnings(${name})
  if(FERLOW_FUZZ)
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  else()
    target_sources(${name} PRIVATE ${PROJECT_SOURCE_DIR}/fuzz/ReplayMain.cpp)
    if(FERLOW_BUILD_TESTS AND ARG_CORPUS)
      add_test(NAME ${name}Replay COMMAND ${name} ${ARG_CORPUS})
    endif()
  endif()
endfunction()
