# Per-generator CPack settings (CPACK_PROJECT_CONFIG_FILE): cpack reads this
# once for every generator it runs.

# Everything cpack runs from here on (strip, dpkg-deb) writes the source date
# (cmake/PelindraSourceDate.cmake) where it would write the time of day.
set(ENV{SOURCE_DATE_EPOCH} "${CPACK_PELINDRA_SOURCE_DATE_EPOCH}")

if(CPACK_GENERATOR STREQUAL "DEB")
  # Each package's description starts with its own summary line; without this
  # CPack would put the project's summary in front of all three.
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CPACK_DEFAULT_PACKAGE_DESCRIPTION_SUMMARY}")
  # A cross build's dependencies are found through a wrapper (see
  # cmake/debian/shlibdeps-cross.in); CPack takes the one already cached.
  if(CPACK_PELINDRA_SHLIBDEPS)
    set(SHLIBDEPS_EXECUTABLE "${CPACK_PELINDRA_SHLIBDEPS}" CACHE FILEPATH "dpkg-shlibdeps" FORCE)
  endif()
  # The packages also carry Debian's copyright and changelog.
  set(CPACK_COMPONENTS_ALL)
  foreach(component IN LISTS CPACK_PELINDRA_RELEASE_COMPONENTS)
    list(APPEND CPACK_COMPONENTS_ALL ${component} ${component}_debian)
  endforeach()
else()
  # A tarball or zip is the plain install tree: one archive of the listed
  # components (a monolithic archive would take every component there is).
  set(CPACK_COMPONENTS_ALL ${CPACK_PELINDRA_RELEASE_COMPONENTS})
  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_ARCHIVE_FILE_NAME ${CPACK_PELINDRA_ARCHIVE_NAME})
  set(CPACK_PACKAGE_FILE_NAME ${CPACK_PELINDRA_ARCHIVE_NAME})
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
endif()
