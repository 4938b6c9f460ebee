# Compiler settings shared by every target of the project.

set(SONIVALE_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wformat=2 -Wundef -Werror)

if(SONIVALE_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

if(SONIVALE_FUZZ)
  # Everything in the fuzz tree is instrumented for coverage; harnesses link the fuzzer driver.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# Product code: plain procedural C++ without exceptions or RTTI.
function(sonivale_product target)
  target_compile_options(${target} PRIVATE ${SONIVALE_WARNINGS} $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti>)
endfunction()

# Host-only code (tests, benchmarks, tools' test helpers): warnings as errors, exceptions allowed.
function(sonivale_host target)
  target_compile_options(${target} PRIVATE ${SONIVALE_WARNINGS})
endfunction()

# Tests that bind the audio-level service's fixed TCP port take this CTest
# resource lock, so parallel ctest jobs never run two of them at once.
set(SONIVALE_PORT_LOCK sonivale_port_7681)

# A GoogleTest executable registered with CTest, every case labelled with its subsystem.
# When the caller sets SONIVALE_TEST_LOCK, every case takes that resource lock.
function(sonivale_test name label)
  add_executable(${name} ${ARGN})
  sonivale_host(${name})
  target_link_libraries(${name} PRIVATE GTest::gtest GTest::gtest_main sonivale_test_support)
  include(GoogleTest)
  set(props LABELS ${label})
  if(SONIVALE_TEST_LOCK)
    list(APPEND props RESOURCE_LOCK ${SONIVALE_TEST_LOCK})
  endif()
  gtest_discover_tests(${name} PROPERTIES ${props} DISCOVERY_TIMEOUT 60)
endfunction()
