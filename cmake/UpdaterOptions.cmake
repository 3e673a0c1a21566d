# Warnings as errors and the optional sanitizer build, applied to every target of the project
# through updater_target_defaults().

set(UPDATER_SANITIZE "" CACHE STRING "Sanitizers to build with, e.g. address,undefined")

function(updater_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror -Wshadow -Wconversion
                                           -Wno-sign-conversion)
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  if(UPDATER_SANITIZE)
    target_compile_options(${target} PRIVATE -fsanitize=${UPDATER_SANITIZE} -fno-omit-frame-pointer
                                             -fno-sanitize-recover=all)
    target_link_options(${target} PUBLIC -fsanitize=${UPDATER_SANITIZE})
  endif()
endfunction()
