# The fuzz build: every layer is compiled with coverage instrumentation for libFuzzer and checked by
# AddressSanitizer and UndefinedBehaviorSanitizer; only the targets under fuzz/ link the driver.
# The media libraries are loaded at run time and stay uninstrumented.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang" OR NOT CMAKE_C_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "VELOX_FUZZ needs clang: configure with -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++")
endif()
if(VELOX_SANITIZE)
  message(FATAL_ERROR "VELOX_FUZZ brings its own sanitizers: leave VELOX_SANITIZE off")
endif()
add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
add_link_options(-fsanitize=address,undefined)
