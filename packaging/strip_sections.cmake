# Run by CPack on the staged files before it packs them: removes the sections that stripping
# leaves in the programs but that hold nothing of use at run time (compiler versions).
# Each package's files are staged apart; the line's page has no programs.
file(GLOB_RECURSE staged LIST_DIRECTORIES false "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
set(programs ${staged})
list(FILTER programs INCLUDE REGEX "/bin/[^/]+$")
set(pages ${staged})
list(FILTER pages INCLUDE REGEX "/share/cockpit/")
foreach(program IN LISTS programs)
  execute_process(COMMAND ${CPACK_UPDATER_STRIP} --remove-section=.comment --remove-section=.note
                          ${program}
                  RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "could not strip ${program}")
  endif()
endforeach()
if(NOT programs AND NOT pages)
  message(FATAL_ERROR "no programs staged under ${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
endif()
