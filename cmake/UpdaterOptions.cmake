# Warnings as errors and the optional sanitizer build, applied to every target of the project
# through updater_target_defaults().

set(UPDATER_SANITIZE "" CACHE STRING "Sanitizers to build with, e.g. address,undefined")

function(updater_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror -Wshadow -Wconversion
                                           -Wno-sign-conversion)
  if(UPDATER_SANITIZE)
    target_compile_options(${target} PRIVATE -fsanitize=${UPDATER_SANITIZE} -fno-omit-frame-pointer
                                             -fno-sanitize-recover=all)
    target_link_options(${target} PUBLIC -fsanitize=${UPDATER_SANITIZE})
  endif()
endfunction()

# updater_public_headers(<target> <folder> <header>...): the headers of <folder> that <target>
# offers to the targets that link it, included as "<folder>/<header>". Each library stages its own
# headers (symbolic links) under the build tree and adds only that stage to its include path, so
# code sees no header of a library it does not link: an include that points up a layer fails to
# build. A new public header needs a line here and a re-configure.
function(updater_public_headers target folder)
  set(stage ${CMAKE_BINARY_DIR}/include/${target})
  foreach(header IN LISTS ARGN)
    set(source ${PROJECT_SOURCE_DIR}/${folder}/${header})
    if(NOT EXISTS ${source})
      message(FATAL_ERROR "${target}: no header ${folder}/${header}")
    endif()
    file(CREATE_LINK ${source} ${stage}/${folder}/${header} SYMBOLIC COPY_ON_ERROR)
  endforeach()
  # A header-only library has no sources of its own to compile against them.
  get_target_property(type ${target} TYPE)
  if(type STREQUAL INTERFACE_LIBRARY)
    target_include_directories(${target} INTERFACE ${stage})
  else()
    target_include_directories(${target} PUBLIC ${stage})
  endif()
endfunction()

# Where the programs install: bin/ on Linux; on Windows the top of the zip's folder, beside
# README-Windows.txt.
if(WIN32)
  set(CMAKE_INSTALL_BINDIR . CACHE PATH "Programs")
endif()
include(GNUInstallDirs)
# Everything installed goes to the program's own package unless it names another (the line's
# Cockpit page has a package of its own, so that the desktop package never pulls in Cockpit).
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME actualizador)
