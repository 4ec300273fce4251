# Compiler warnings, hardening and sanitizers shared by every target.
add_library(morvex_flags INTERFACE)
add_library(Morvex::flags ALIAS morvex_flags)

target_compile_options(morvex_flags INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast
  -Wcast-align -Wunused -Woverloaded-virtual -Wnull-dereference
  -Wformat=2 -Wimplicit-fallthrough
  -fstack-protector-strong)
if(MORVEX_WERROR)
  target_compile_options(morvex_flags INTERFACE -Werror)
endif()
target_link_options(morvex_flags INTERFACE -Wl,-z,relro -Wl,-z,now)

# The fuzz build instruments every library for libFuzzer's coverage and
# checks it with AddressSanitizer and UndefinedBehaviorSanitizer; only the
# fuzz targets themselves link libFuzzer (tests/fuzz).
if(MORVEX_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "MORVEX_FUZZ needs clang: configure with -DCMAKE_CXX_COMPILER=clang++")
  endif()
  set(MORVEX_SANITIZE "fuzzer-no-link,address,undefined")
endif()

if(NOT MORVEX_SANITIZE AND NOT CMAKE_BUILD_TYPE STREQUAL "Debug")
  target_compile_definitions(morvex_flags INTERFACE _FORTIFY_SOURCE=2)
endif()

if(MORVEX_SANITIZE)
  set(_san -fsanitize=${MORVEX_SANITIZE} -fno-omit-frame-pointer)
  if(MORVEX_SANITIZE MATCHES "undefined")
    list(APPEND _san -fno-sanitize-recover=undefined)
  endif()
  target_compile_options(morvex_flags INTERFACE ${_san})
  target_link_options(morvex_flags INTERFACE ${_san})
endif()

# Generated code (protobuf) is built without the strict warning set.
add_library(morvex_generated_flags INTERFACE)
if(MORVEX_SANITIZE)
  target_compile_options(morvex_generated_flags INTERFACE ${_san})
  target_link_options(morvex_generated_flags INTERFACE ${_san})
endif()
