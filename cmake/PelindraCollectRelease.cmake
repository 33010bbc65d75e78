# Run by cpack after each generator (CPACK_POST_BUILD_SCRIPTS): copies the
# files it made into the release folder and rewrites the folder's SHA256SUMS,
# so that the native and the cross builds can fill one folder in turn.

set(dist "${CPACK_PELINDRA_DIST_DIR}")
file(MAKE_DIRECTORY "${dist}")

# Every file is rewritten so that the same sources give the same bytes on any
# machine, in any folder, at any time: entries in name order, owned by root,
# with no time later than the source date (SOURCE_DATE_EPOCH, which
# cmake/PelindraCPackOptions.cmake sets) and gzip headers without name or time.

# A Debian package is unpacked and built again by dpkg-deb, which clamps every
# time to SOURCE_DATE_EPOCH. On the way, two things CPack cannot be told:
#  - a package holding a shared library gets postinst and postrm scripts that
#    run ldconfig. dpkg's ldconfig trigger, which the package activates, does
#    that work, and a postrm keeps a removed package listed ("config-files")
#    until it is purged, so they go;
#  - the pkg-config file finds its prefix from its own place, which suits the
#    tarball; in the package it names /usr, so that pkg-config leaves the
#    system's folders out of the flags it gives.
function(pelindra_repack_deb package)
  set(tree "${package}.repack")
  file(REMOVE_RECURSE "${tree}")
  execute_process(COMMAND dpkg-deb --raw-extract "${package}" "${tree}"
    COMMAND_ERROR_IS_FATAL ANY)
  foreach(script IN ITEMS postinst postrm)
    if(EXISTS "${tree}/DEBIAN/${script}")
      file(READ "${tree}/DEBIAN/${script}" text)
      string(REGEX REPLACE "[ \t\n]+" " " text "${text}")
      if(NOT text MATCHES "^#!/bin/sh set -e if \\[ \"\\$1\" = \"(configure|remove)\" \\]; then ldconfig fi $")
        message(FATAL_ERROR "${package}: unexpected ${script}: ${text}")
      endif()
      file(REMOVE "${tree}/DEBIAN/${script}")
    endif()
  endforeach()
  file(GLOB_RECURSE pc_files RELATIVE "${tree}" "${tree}/*.pc")
  foreach(pc IN LISTS pc_files)
    file(MD5 "${tree}/${pc}" old_sum)
    file(READ "${tree}/${pc}" text)
    string(REGEX REPLACE "(^|\n)prefix=[^\n]*" "\\1prefix=/usr" text "${text}")
    file(WRITE "${tree}/${pc}" "${text}")
    file(MD5 "${tree}/${pc}" new_sum)
    file(READ "${tree}/DEBIAN/md5sums" sums)
    string(REPLACE "${old_sum}  ${pc}" "${new_sum}  ${pc}" sums "${sums}")
    file(WRITE "${tree}/DEBIAN/md5sums" "${sums}")
  endforeach()
  execute_process(COMMAND dpkg-deb --root-owner-group --threads-max=1 --build "${tree}" "${package}"
    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE "${tree}")
endfunction()

foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(package MATCHES "\\.deb$")
    pelindra_repack_deb("${package}")
  elseif(CPACK_PELINDRA_PYTHON)
    execute_process(COMMAND "${CPACK_PELINDRA_PYTHON}"
      "${CPACK_PELINDRA_SOURCE_DIR}/cmake/repack_archive.py" "${package}"
      "${CPACK_PELINDRA_SOURCE_DATE_EPOCH}"
      COMMAND_ERROR_IS_FATAL ANY)
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
