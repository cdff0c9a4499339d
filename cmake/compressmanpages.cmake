# Run by CPack on the staged files before it packs them. Debian keeps manual pages compressed
# with gzip -9n, which stores no time stamp of the build.
if(CPACK_GENERATOR STREQUAL "DEB")
    file(GLOB_RECURSE pages "${CPACK_TEMPORARY_DIRECTORY}/*/share/man/*.[1-9]")
    foreach(page IN LISTS pages)
        execute_process(COMMAND gzip -9nf "${page}" COMMAND_ERROR_IS_FATAL ANY)
    endforeach()
endif()
