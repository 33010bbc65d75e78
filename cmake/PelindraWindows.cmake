# Windows additions: MorvanePelindra.dll in two flavours from the same objects.
#  - MorvanePelindra (in the build directory): registers with the application
#    framework (mfcce300.dll) at load and unload, for devices that have it;
#  - MorvanePelindraDesktop (in desktop/): no framework import, empty load and
#    unload hooks, for desktop Windows, which has no such framework.
# Both carry the same export table and resources, and a C and C++ runtime
# linked in so they need nothing beyond the system's own DLLs (and the
# framework's). Each has its own command-line host beside it. Included from the
# top-level list on WIN32 only.

enable_language(RC)

set(pelindra_dll_dir ${PROJECT_SOURCE_DIR}/src/windows_dll)

# The empty type library the resources carry, made from its IDL by widl.
if(NOT PELINDRA_WIDL)
  find_program(PELINDRA_WIDL NAMES widl REQUIRED)
endif()
set(pelindra_typelib ${PROJECT_BINARY_DIR}/MorvanePelindraW.tlb)
# widl writes the time it ran into the library; it gets the source date instead.
if(PELINDRA_PYTHON)
  set(pelindra_stamp_typelib COMMAND ${PELINDRA_PYTHON} ${PROJECT_SOURCE_DIR}/cmake/stamp_typelib.py
    ${pelindra_typelib} ${PELINDRA_SOURCE_DATE_EPOCH})
endif()
add_custom_command(OUTPUT ${pelindra_typelib}
  COMMAND ${PELINDRA_WIDL} -t -o ${pelindra_typelib} ${pelindra_dll_dir}/MorvanePelindraW.idl
  ${pelindra_stamp_typelib}
  DEPENDS ${pelindra_dll_dir}/MorvanePelindraW.idl ${PROJECT_SOURCE_DIR}/cmake/stamp_typelib.py
  COMMENT "Building the type library MorvanePelindraW.tlb"
  VERBATIM)
set_source_files_properties(${pelindra_dll_dir}/version.rc PROPERTIES
  OBJECT_DEPENDS ${pelindra_typelib})

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  # Pelindra is a standard-call function on 32-bit Windows, so its symbol is
  # decorated; the export is to carry the bare name.
  set(PELINDRA_EXPORT_SYMBOL Pelindra@12)
else()
  set(PELINDRA_EXPORT_SYMBOL Pelindra)
endif()
set(pelindra_def ${PROJECT_BINARY_DIR}/MorvanePelindra.def)
configure_file(${pelindra_dll_dir}/MorvanePelindra.def.in ${pelindra_def} @ONLY)

if(NOT CMAKE_DLLTOOL)
  find_program(CMAKE_DLLTOOL NAMES dlltool REQUIRED)
endif()

# What both flavours share: the export table, the resources, the runtimes
# linked in, and the file names MorvanePelindra.dll and libMorvanePelindra.dll.a.
function(pelindra_windows_dll target)
  target_sources(${target} PRIVATE ${pelindra_dll_dir}/version.rc ${pelindra_def})
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    target_link_options(${target} PRIVATE "LINKER:--kill-at")
    # The linker's import library would know only the bare name, which no
    # caller asks for; rebuild it from the decorated list so that
    # _imp__Pelindra@12 resolves to the export "Pelindra". dlltool names the
    # library's members and symbols after the output as it is given, so it
    # is given without the build path.
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_DLLTOOL} --kill-at --input-def ${pelindra_def}
              --dllname $<TARGET_FILE_NAME:${target}>
              --output-lib $<TARGET_LINKER_FILE_NAME:${target}>
      WORKING_DIRECTORY $<TARGET_LINKER_FILE_DIR:${target}>
      COMMENT "Rebuilding the import library of ${target} with the decorated name"
      VERBATIM)
  endif()
  # windres looks for the .tlb named in the script along the include path.
  target_include_directories(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:RC>:${PROJECT_BINARY_DIR}>)
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME MorvanePelindra
    PREFIX ""
    LINK_DEPENDS ${pelindra_def})
  target_link_options(${target} PRIVATE
    -static-libgcc -static-libstdc++ "LINKER:--no-undefined")
endfunction()

pelindra_windows_dll(MorvanePelindra)

# The framework flavour imports the framework by ordinal only, through an
# import library made from the list of the operations used.
set(pelindra_framework_def ${pelindra_dll_dir}/framework_imports.def)
set(pelindra_framework_implib ${PROJECT_BINARY_DIR}/libmfcce300_imports.a)
add_custom_command(OUTPUT ${pelindra_framework_implib}
  COMMAND ${CMAKE_DLLTOOL} --input-def ${pelindra_framework_def}
          --output-lib ${pelindra_framework_implib}
  DEPENDS ${pelindra_framework_def}
  COMMENT "Building the import library for mfcce300.dll"
  VERBATIM)
add_custom_target(pelindra_framework_implib DEPENDS ${pelindra_framework_implib})
add_dependencies(MorvanePelindra pelindra_framework_implib)

target_sources(MorvanePelindra PRIVATE ${pelindra_dll_dir}/dll_entry_win32.cpp)
target_link_libraries(MorvanePelindra PRIVATE ${pelindra_framework_implib})
# The early hook has to run before the C runtime's start-up code, so the
# image's entry is ours and calls the runtime's entry itself.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  target_link_options(MorvanePelindra PRIVATE "LINKER:-e,_PelindraDllEntry@12")
else()
  target_link_options(MorvanePelindra PRIVATE "LINKER:-e,PelindraDllEntry")
endif()

# The desktop flavour, in its own directory since the file names are the same.
set(pelindra_desktop_dir ${PROJECT_BINARY_DIR}/desktop)
add_library(MorvanePelindraDesktop SHARED)
target_link_libraries(MorvanePelindraDesktop PRIVATE pelindra_core pelindra_runtime_services)
target_include_directories(MorvanePelindraDesktop PUBLIC
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>)
pelindra_windows_dll(MorvanePelindraDesktop)
set_target_properties(MorvanePelindraDesktop PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY ${pelindra_desktop_dir}
  ARCHIVE_OUTPUT_DIRECTORY ${pelindra_desktop_dir})

# Each flavour's host, beside its DLL. The host links the C and C++ runtimes in
# as well, so it runs from a bare directory holding it and the DLL.
# CommandLineToArgvW, for the wide command line, is in shell32.
target_link_options(pelindra PRIVATE -static)
target_link_libraries(pelindra PRIVATE shell32)
add_executable(pelindra_desktop ${pelindra_host_sources})
target_compile_definitions(pelindra_desktop PRIVATE PELINDRA_VERSION="${PROJECT_VERSION}")
target_link_libraries(pelindra_desktop PRIVATE MorvanePelindraDesktop pelindra_host_arguments
  pelindra_flags shell32)
target_link_options(pelindra_desktop PRIVATE -static)
set_target_properties(pelindra_desktop PROPERTIES
  OUTPUT_NAME pelindra
  RUNTIME_OUTPUT_DIRECTORY ${pelindra_desktop_dir})

# Installed: each flavour's folder holds its DLL, import library, export list
# and host, ready to copy as a whole; the header is shared. No CMake package and
# no pkg-config file here: MinGW and MSVC callers link the import library named
# on their command line, and a prefix with two libraries of the same name
# cannot describe either in one -l.
foreach(flavour IN ITEMS framework desktop)
  if(flavour STREQUAL framework)
    set(dll MorvanePelindra)
    set(host pelindra)
  else()
    set(dll MorvanePelindraDesktop)
    set(host pelindra_desktop)
  endif()
  # Only the framework flavour's target names the header.
  install(TARGETS ${dll} ${host}
    RUNTIME DESTINATION ${flavour}
    ARCHIVE DESTINATION ${flavour}
    PUBLIC_HEADER DESTINATION include)
  install(FILES ${pelindra_def} DESTINATION ${flavour})
endforeach()
