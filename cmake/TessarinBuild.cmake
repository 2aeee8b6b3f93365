# The one place for compiler options and the test helper.

# Every target includes headers from the source root: #include "link/DongleLink.h".
include_directories(${PROJECT_SOURCE_DIR})

add_compile_options(-Wall -Wextra)
if(WIN32)
  # One self-contained executable under Wine or Windows: no runtime DLLs to ship.
  add_link_options(-static -static-libgcc -static-libstdc++)
endif()

if(TESSARIN_SANITIZE)
  add_compile_options(-fsanitize=${TESSARIN_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${TESSARIN_SANITIZE})
endif()

set(THREADS_PREFER_PTHREAD_FLAG ON)
find_package(Threads REQUIRED)

# tessarin_add_test(<name> LABEL core|gui SOURCES ... LIBS ...)
# core tests need no display; gui tests run under one Xvfb display and share a lock,
# since they share one pointer and keyboard focus.
function(tessarin_add_test name)
  cmake_parse_arguments(T "" "LABEL;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  if(CMAKE_CROSSCOMPILING AND T_LABEL STREQUAL "gui")
    return()   # the cross build has no window toolkit
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock Threads::Threads)
  if(T_LABEL STREQUAL "gui")
    target_link_libraries(${name} PRIVATE GTest::gtest)
  else()
    target_link_libraries(${name} PRIVATE GTest::gtest_main)
  endif()
  set(props LABELS ${T_LABEL} TIMEOUT ${T_TIMEOUT})
  if(T_LABEL STREQUAL "gui")
    list(APPEND props RESOURCE_LOCK display ENVIRONMENT "GTK_OVERLAY_SCROLLING=0;NO_AT_BRIDGE=1")
  endif()
  if(CMAKE_CROSSCOMPILING)
    # Under Wine the test list comes from a run of the binary; discovery would need it
    # at build time, so each binary is one test.
    add_test(NAME ${name} COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:${name}>)
    set_tests_properties(${name} PROPERTIES LABELS ${T_LABEL} TIMEOUT ${T_TIMEOUT})
  else()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES ${props})
  endif()
endfunction()
