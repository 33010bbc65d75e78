# Releases: the man page, and what `cpack` makes from a build tree.
#
#  - Linux: three Debian packages split the Debian way (the run-time library
#    under its SONAME, the -dev package with everything a build needs, and the
#    host with its man page) and a plain tarball of the whole install tree;
#  - Windows: a zip of the install tree with the README and the man page as text.
#
# Every file name carries the project version. Each cpack run copies what it
# made into PELINDRA_DIST_DIR and rewrites the SHA-256 sums there, so the
# native and the cross builds fill one dist/ (see docs/releases.md).
# Included from the top-level list after the install rules.

set(PELINDRA_DIST_DIR ${PROJECT_SOURCE_DIR}/dist CACHE PATH
  "Where cpack puts the release files and their SHA256SUMS")

set(pelindra_packaging_dir ${PROJECT_SOURCE_DIR}/cmake/debian)
set(pelindra_vendor "The Morvane Pelindra developers")
set(pelindra_contact "${pelindra_vendor} <pelindra@morvane.example>")

# --- The man page, from one source ------------------------------------------
configure_file(${PROJECT_SOURCE_DIR}/docs/pelindra.1.in ${PROJECT_BINARY_DIR}/pelindra.1 @ONLY)
if(NOT WIN32)
  # Debian wants manual pages compressed at the highest level and without a
  # time stamp in the gzip header.
  find_program(PELINDRA_GZIP gzip REQUIRED)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/pelindra.1.gz
    COMMAND ${PELINDRA_GZIP} -9 -n -k -f ${PROJECT_BINARY_DIR}/pelindra.1
    DEPENDS ${PROJECT_BINARY_DIR}/pelindra.1
    COMMENT "Compressing the man page"
    VERBATIM)
  add_custom_target(pelindra_man_page ALL DEPENDS ${PROJECT_BINARY_DIR}/pelindra.1.gz)
  install(FILES ${PROJECT_BINARY_DIR}/pelindra.1.gz
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT host)
endif()

# --- Linux: Debian packages and a tarball ----------------------------------
if(NOT WIN32)
  set(pelindra_deb_library libmorvanepelindra${PROJECT_VERSION_MAJOR})
  set(pelindra_deb_version ${PROJECT_VERSION}-1)

  # Debian's copyright and changelog go into each package's documentation
  # folder, in their own components so that neither the tarball nor a plain
  # `cmake --install` has them.
  configure_file(${pelindra_packaging_dir}/changelog.in
    ${PROJECT_BINARY_DIR}/debian/changelog.Debian @ONLY)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz
    COMMAND ${PELINDRA_GZIP} -9 -n -k -f ${PROJECT_BINARY_DIR}/debian/changelog.Debian
    DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog.Debian
    COMMENT "Compressing the Debian changelog"
    VERBATIM)
  add_custom_target(pelindra_debian_changelog ALL
    DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz)
  foreach(pair IN ITEMS "library|${pelindra_deb_library}" "development|libmorvanepelindra-dev"
                        "host|pelindra")
    string(REPLACE "|" ";" pair "${pair}")
    list(GET pair 0 component)
    list(GET pair 1 package)
    install(FILES ${pelindra_packaging_dir}/copyright
                  ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz
      DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package}
      COMPONENT ${component}_debian EXCLUDE_FROM_ALL)
    string(TOUPPER ${component} group)
    set(CPACK_COMPONENT_${group}_GROUP ${component})
    set(CPACK_COMPONENT_${group}_DEBIAN_GROUP ${component})
    set(CPACK_DEBIAN_${group}_PACKAGE_NAME ${package})
    set(CPACK_DEBIAN_${group}_FILE_NAME DEB-DEFAULT)
  endforeach()

  if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(arm|armv7.*)$")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE armhf)
    set(pelindra_tarball_arch armhf)
  elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
    set(pelindra_tarball_arch x86_64)
  else()
    set(pelindra_tarball_arch ${CMAKE_SYSTEM_PROCESSOR})
  endif()

  if(CMAKE_CROSSCOMPILING AND CPACK_DEBIAN_PACKAGE_ARCHITECTURE)
    list(GET CMAKE_FIND_ROOT_PATH 0 pelindra_cross_root)
    set(PELINDRA_CROSS_LIBDIR ${pelindra_cross_root}/lib)
    configure_file(${pelindra_packaging_dir}/shlibdeps-cross.in
      ${PROJECT_BINARY_DIR}/debian/shlibdeps-cross @ONLY
      FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                       WORLD_READ WORLD_EXECUTE)
    set(CPACK_PELINDRA_SHLIBDEPS ${PROJECT_BINARY_DIR}/debian/shlibdeps-cross)
  endif()

  set(CPACK_GENERATOR DEB TGZ)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_GROUPING ONE_PER_GROUP)
  set(CPACK_DEBIAN_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
  set(CPACK_DEBIAN_PACKAGE_SOURCE morvanepelindra)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${pelindra_contact}")
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # dpkg-shlibdeps must see our own library to look past it to the system's.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR})
  set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
  set(CPACK_DEBIAN_HOST_PACKAGE_SECTION graphics)
  # The shlibs file lets other packages' dpkg-shlibdeps depend on this
  # library; the host and the headers name it themselves, since their builds
  # cannot see the library's package.
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
  # dpkg refreshes the linker cache through its ldconfig trigger (CPack's own
  # ldconfig scripts are taken out again by PelindraCollectRelease.cmake).
  set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA ${pelindra_packaging_dir}/triggers)
  set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS
    "${pelindra_deb_library} (= ${pelindra_deb_version})")
  set(CPACK_DEBIAN_HOST_PACKAGE_DEPENDS "${pelindra_deb_library} (>= ${pelindra_deb_version})")
  string(CONCAT pelindra_deb_about
    "Morvane Pelindra loads an uncompressed 24-bit BMP image, draws stars into\n"
    "it at random places, sizes and colours, and writes the result.\n")
  string(CONCAT CPACK_DEBIAN_LIBRARY_DESCRIPTION
    "library that draws stars into BMP images\n" "${pelindra_deb_about}"
    "\n" "This package contains the shared library.")
  string(CONCAT CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION
    "library that draws stars into BMP images - development files\n" "${pelindra_deb_about}"
    "\n" "This package contains the header, the CMake package and the pkg-config\n"
    "file needed to build programs that use the library.")
  string(CONCAT CPACK_DEBIAN_HOST_DESCRIPTION
    "draw stars into BMP images\n"
    "pelindra reads an uncompressed 24-bit BMP image, draws a number of stars\n"
    "into it at random places, sizes and colours, and writes the result. With\n"
    "a seed the same stars come out every time.")

  set(CPACK_PELINDRA_ARCHIVE_NAME morvanepelindra-${PROJECT_VERSION}-linux-${pelindra_tarball_arch})
endif()

# --- Windows: a zip per architecture ----------------------------------------
if(WIN32)
  # The zip holds the install tree (both DLL flavours, their import libraries,
  # export lists and hosts, and the header) with the README and the man page as
  # text beside it. Those two are left out of a plain `cmake --install`.
  find_program(PELINDRA_GROFF groff)
  if(PELINDRA_GROFF)
    add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/pelindra.1.txt
      COMMAND ${CMAKE_COMMAND} -DGROFF=${PELINDRA_GROFF} -DINPUT=${PROJECT_BINARY_DIR}/pelindra.1
              -DOUTPUT=${PROJECT_BINARY_DIR}/pelindra.1.txt
              -P ${PROJECT_SOURCE_DIR}/cmake/PelindraManText.cmake
      DEPENDS ${PROJECT_BINARY_DIR}/pelindra.1 ${PROJECT_SOURCE_DIR}/cmake/PelindraManText.cmake
      COMMENT "Rendering the man page as text"
      VERBATIM)
    add_custom_target(pelindra_man_text ALL DEPENDS ${PROJECT_BINARY_DIR}/pelindra.1.txt)
    install(FILES ${PROJECT_BINARY_DIR}/pelindra.1.txt
      DESTINATION . COMPONENT documentation EXCLUDE_FROM_ALL)
  else()
    message(WARNING "groff not found: the release zip will lack the man page")
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/README.md
    DESTINATION . COMPONENT documentation EXCLUDE_FROM_ALL)

  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(pelindra_zip_arch x86)
  else()
    set(pelindra_zip_arch x64)
  endif()
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PELINDRA_ARCHIVE_NAME morvanepelindra-${PROJECT_VERSION}-windows-${pelindra_zip_arch})
  # The Windows install rules name no component.
  set(CPACK_PELINDRA_RELEASE_COMPONENTS Unspecified documentation)
else()
  set(CPACK_PELINDRA_RELEASE_COMPONENTS library development host)
endif()

# --- Common settings --------------------------------------------------------
set(CPACK_PELINDRA_SOURCE_DATE_EPOCH ${PELINDRA_SOURCE_DATE_EPOCH})
set(CPACK_PELINDRA_PYTHON ${PELINDRA_PYTHON})
set(CPACK_PELINDRA_SOURCE_DIR ${PROJECT_SOURCE_DIR})
set(CPACK_PACKAGE_NAME morvanepelindra)
set(CPACK_PACKAGE_VENDOR "${pelindra_vendor}")
set(CPACK_PACKAGE_CONTACT "${pelindra_contact}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_STRIP_FILES ON)
set(CPACK_THREADS 2)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/PelindraCPackOptions.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/PelindraCollectRelease.cmake)
set(CPACK_PELINDRA_DIST_DIR ${PELINDRA_DIST_DIR})
include(CPack)
