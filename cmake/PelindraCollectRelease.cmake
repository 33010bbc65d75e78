# Run by cpack after each generator (CPACK_POST_BUILD_SCRIPTS): copies the
# files it made into the release folder and rewrites the folder's SHA256SUMS,
# so that the native and the cross builds can fill one folder in turn.

set(dist "${CPACK_PELINDRA_DIST_DIR}")
file(MAKE_DIRECTORY "${dist}")
foreach(package IN LISTS CPACK_PACKAGE_FILES)
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
