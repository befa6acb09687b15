# Project-wide warning and sanitizer flags, applied to every target through
# the mvx_project_options interface library.
add_library(mvx_project_options INTERFACE)
target_compile_options(mvx_project_options INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow
  $<$<BOOL:${MVX_WERROR}>:-Werror>)

if(MVX_SANITIZE)
  target_compile_options(mvx_project_options INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  target_link_options(mvx_project_options INTERFACE -fsanitize=address,undefined)
endif()

# Fuzzing: every target is instrumented for coverage; the fuzz executables
# link the fuzzer itself.
if(MVX_BUILD_FUZZ)
  target_compile_options(mvx_project_options INTERFACE
    -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  target_link_options(mvx_project_options INTERFACE -fsanitize=address,undefined)
endif()
