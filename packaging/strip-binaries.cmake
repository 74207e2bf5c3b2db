# Run by cpack on the staged files before it packs them: every ELF file is stripped of its symbols,
# its debug information and the sections only the toolchain reads (.comment, .note), as Debian's
# own packages are.
file(GLOB_RECURSE _files LIST_DIRECTORIES false "${CPACK_TEMPORARY_DIRECTORY}/*")
foreach(_file IN LISTS _files)
    if(IS_SYMLINK "${_file}")
        continue()
    endif()
    file(READ "${_file}" _magic LIMIT 4 HEX)
    if(_magic STREQUAL "7f454c46")
        execute_process(COMMAND "${CPACK_QUAYSTONE_STRIP}" --remove-section=.comment --remove-section=.note "${_file}"
            COMMAND_ERROR_IS_FATAL ANY)
    endif()
endforeach()
