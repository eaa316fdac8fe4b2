# olvaro_test(NAME SOURCES... LIBS lib... [LABELS label...] [LOCK resource])
# LOCK names shared state that cases of other tests must not touch at the same time;
# CTest runs them apart. One name only: a list would not survive the way discovered
# cases get their properties.
# One GoogleTest executable, registered with CTest case by case (tests/CMakeLists.txt
# finds GoogleTest, so a build without tests needs none).

function(olvaro_test name)
  cmake_parse_arguments(T "" "LOCK" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES} ${T_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main Threads::Threads)
  # Empty values would vanish from the list and shift the pairs, so add only what is set.
  set(properties TIMEOUT 600)
  if(T_LABELS)
    list(APPEND properties LABELS "${T_LABELS}")
  endif()
  if(T_LOCK)
    list(APPEND properties RESOURCE_LOCK ${T_LOCK})
  endif()
  if(CMAKE_CROSSCOMPILING)
    # Listing the cases would start the emulator at build time: one test per executable.
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES ${properties})
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${properties})
  endif()
endfunction()
