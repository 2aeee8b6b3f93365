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

# tessarin_test_executable(<name> LABEL core|gui MAIN <source of main()> LIBS ...)
# One test executable; its folders add their sources with target_sources. core tests
# need no display; gui tests run under one Xvfb display and share a lock, since they
# share one pointer and keyboard focus.
function(tessarin_test_executable name)
  cmake_parse_arguments(T "" "LABEL;MAIN" "LIBS" ${ARGN})
  add_executable(${name} ${T_MAIN})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest Threads::Threads)
  set(props LABELS ${T_LABEL} TIMEOUT 120)
  if(T_LABEL STREQUAL "gui")
    list(APPEND props RESOURCE_LOCK display ENVIRONMENT "GTK_OVERLAY_SCROLLING=0;NO_AT_BRIDGE=1")
  endif()
  if(CMAKE_CROSSCOMPILING)
    # Under Wine the test list comes from a run of the binary; discovery would need it
    # at build time, so the binary is one test.
    add_test(NAME ${name} COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:${name}>)
    set_tests_properties(${name} PROPERTIES LABELS ${T_LABEL} TIMEOUT 900)
  else()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST PROPERTIES ${props})
  endif()
endfunction()
