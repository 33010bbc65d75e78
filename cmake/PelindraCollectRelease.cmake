# Run by cpack after each generator (CPACK_POST_BUILD_SCRIPTS): copies the
# files it made into the release folder and rewrites the folder's SHA256SUMS,
# so that the native and the cross builds can fill one folder in turn.

set(dist "${CPACK_PELINDRA_DIST_DIR}")
file(MAKE_DIRECTORY "${dist}")

# CPack gives a package holding a shared library postinst and postrm scripts
# that run ldconfig, and has no setting to leave them out. dpkg's ldconfig
# trigger, which the package activates, does that work; and a postrm keeps a
# removed package listed ("config-files") until it is purged. So such a
# package is repacked without the two scripts.
function(pelindra_drop_ldconfig_scripts package)
  set(tree "${package}.repack")
  file(REMOVE_RECURSE "${tree}")
  execute_process(COMMAND dpkg-deb --raw-extract "${package}" "${tree}"
    COMMAND_ERROR_IS_FATAL ANY)
  set(dropped FALSE)
  foreach(script IN ITEMS postinst postrm)
    if(EXISTS "${tree}/DEBIAN/${script}")
      file(READ "${tree}/DEBIAN/${script}" text)
      string(REGEX REPLACE "[ \t\n]+" " " text "${text}")
      if(NOT text MATCHES "^#!/bin/sh set -e if \\[ \"\\$1\" = \"(configure|remove)\" \\]; then ldconfig fi $")
        message(FATAL_ERROR "${package}: unexpected ${script}: ${text}")
      endif()
      file(REMOVE "${tree}/DEBIAN/${script}")
      set(dropped TRUE)
    endif()
  endforeach()
  if(dropped)
    execute_process(COMMAND dpkg-deb --root-owner-group --build "${tree}" "${package}"
      OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  endif()
  file(REMOVE_RECURSE "${tree}")
endfunction()

foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(package MATCHES "\\.deb$")
    pelindra_drop_ldconfig_scripts("${package}")
  endif()
  file(COPY "${package}" DESTINATION "${dist}")
  get_filename_component(name "${package}" NAME)
  message(STATUS "Release file: ${dist}/${name}")
endforeach()

file(GLOB names LIST_DIRECTORIES false RELATIVE "${dist}" "${dist}/*")
list(REMOVE_ITEM names SHA256SUMS)
list(SORT names)
set(sums "")
foreach(name IN LISTS names)
  file(SHA256 "${dist}/${name}" hash)
  string(APPEND sums "${hash}  ${name}\n")
endforeach()
file(WRITE "${dist}/SHA256SUMS" "${sums}")
