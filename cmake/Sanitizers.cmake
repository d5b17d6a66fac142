# Sanitizer flags for the checking builds, applied to every target of the tree
# (libraries, the application, the simulator and the test suites alike).
#
#   K410_SANITIZE=ON  AddressSanitizer (with LeakSanitizer) and
#                     UndefinedBehaviorSanitizer; any undefined behaviour
#                     aborts, so a test that hits it fails.
#   K410_FUZZ=ON      the same, plus libFuzzer coverage instrumentation
#                     (clang only); fuzz/ links its targets with the
#                     libFuzzer driver.
#
# The run-time options (leak detection, halting, suppressions) are set by
# whoever runs the binaries: see .ci/run and tests/sanitizers/.

if(NOT (K410_SANITIZE OR K410_FUZZ))
    return()
endif()

if(NOT CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    message(FATAL_ERROR "K410_SANITIZE/K410_FUZZ need g++ or clang++ (found ${CMAKE_CXX_COMPILER_ID})")
endif()
if(K410_FUZZ AND NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "K410_FUZZ needs clang++: configure with -DCMAKE_CXX_COMPILER=clang++")
endif()

set(K410_SANITIZER_LIST "address,undefined")
add_compile_options(
    -fsanitize=${K410_SANITIZER_LIST}
    -fno-sanitize-recover=undefined
    -fno-omit-frame-pointer
)
add_link_options(-fsanitize=${K410_SANITIZER_LIST})

if(K410_FUZZ)
    # Coverage feedback for every library the fuzz targets reach; the driver
    # (main) is linked into the fuzz targets only.
    add_compile_options(-fsanitize=fuzzer-no-link)
    add_link_options(-fsanitize=fuzzer-no-link)
endif()

message(STATUS "Sanitizers: ${K410_SANITIZER_LIST}")
