# The two programs' place in an installation, and the Debian package CPack makes of it
# (`cpack -G DEB` in a build directory; scripts/package.sh builds, checks and tries it).
include(GNUInstallDirs)
install(TARGETS hydrix adcp-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# A stripped install (CPack's) also drops the compiler's notes, as Debian's packages do.
install(CODE "
  if(CMAKE_INSTALL_DO_STRIP)
    foreach(program hydrix adcp-sim)
      execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment --remove-section=.note
                      \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/\${program}\"
                      COMMAND_ERROR_IS_FATAL ANY)
    endforeach()
  endif()")

set(HYDRIX_MAINTAINER "Hydrix developers <hydrix@example.org>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME hydrix)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${HYDRIX_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "bench test station for ADCP instruments on a serial line")
set(CPACK_PACKAGE_DESCRIPTION
    "Hydrix wakes an acoustic Doppler current profiler on a serial line, drives its\n"
    "self-tests, counts the PASS and FAIL reports and captures everything the\n"
    "instrument sends to a file named after its serial number and clock. The serial\n"
    "port, baud rate and output directory come from the host acquisition software's\n"
    "settings in a Wine prefix.\n"
    "\n"
    "The package also holds adcp-sim, a simulated instrument on a pseudo-terminal\n"
    "for trying the station without one.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries come from the programs themselves. The terminal's fallback font is found
# at run time, so it is named here; without it the system's fixed font is used.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS fonts-dejavu-core)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
