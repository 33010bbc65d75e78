# Windows additions to the MorvanePelindra library target: the DLL's own entry
# and framework registration, the export table, the resources, and a C and C++
# runtime linked in so the DLL needs nothing beyond the system's own DLLs (and
# the framework's). Included from the top-level list on WIN32 only.

option(PELINDRA_FRAMEWORK_REGISTRATION
  "Register with the application framework (mfcce300.dll) at load and unload" ON)

enable_language(RC)

set(pelindra_shell_dir ${PROJECT_SOURCE_DIR}/src/shell)

# The empty type library the resources carry, made from its IDL by widl.
if(NOT PELINDRA_WIDL)
  find_program(PELINDRA_WIDL NAMES widl REQUIRED)
endif()
set(pelindra_typelib ${PROJECT_BINARY_DIR}/MorvanePelindraW.tlb)
add_custom_command(OUTPUT ${pelindra_typelib}
  COMMAND ${PELINDRA_WIDL} -t -o ${pelindra_typelib} ${pelindra_shell_dir}/MorvanePelindraW.idl
  DEPENDS ${pelindra_shell_dir}/MorvanePelindraW.idl
  COMMENT "Building the type library MorvanePelindraW.tlb"
  VERBATIM)
set_source_files_properties(${pelindra_shell_dir}/version.rc PROPERTIES
  OBJECT_DEPENDS ${pelindra_typelib})

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  # Pelindra is a standard-call function on 32-bit Windows, so its symbol is
  # decorated; the export is to carry the bare name.
  set(PELINDRA_EXPORT_SYMBOL Pelindra@12)
  target_link_options(MorvanePelindra PRIVATE "LINKER:--kill-at")
else()
  set(PELINDRA_EXPORT_SYMBOL Pelindra)
endif()
set(pelindra_def ${PROJECT_BINARY_DIR}/MorvanePelindra.def)
configure_file(${pelindra_shell_dir}/MorvanePelindra.def.in ${pelindra_def} @ONLY)

target_sources(MorvanePelindra PRIVATE ${pelindra_shell_dir}/version.rc ${pelindra_def})

if(NOT CMAKE_DLLTOOL)
  find_program(CMAKE_DLLTOOL NAMES dlltool REQUIRED)
endif()
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  # The linker's import library would know only the bare name, which no caller
  # asks for; rebuild it from the decorated list so that _imp__Pelindra@12
  # resolves to the export "Pelindra".
  add_custom_command(TARGET MorvanePelindra POST_BUILD
    COMMAND ${CMAKE_DLLTOOL} --kill-at --input-def ${pelindra_def}
            --dllname $<TARGET_FILE_NAME:MorvanePelindra>
            --output-lib $<TARGET_LINKER_FILE:MorvanePelindra>
    COMMENT "Rebuilding the import library with the decorated name"
    VERBATIM)
endif()
# windres looks for the .tlb named in the script along the include path.
target_include_directories(MorvanePelindra PRIVATE $<$<COMPILE_LANGUAGE:RC>:${PROJECT_BINARY_DIR}>)

set_target_properties(MorvanePelindra PROPERTIES
  OUTPUT_NAME MorvanePelindra
  PREFIX ""
  LINK_DEPENDS ${pelindra_def})

target_link_options(MorvanePelindra PRIVATE
  -static-libgcc -static-libstdc++ "LINKER:--no-undefined")

if(PELINDRA_FRAMEWORK_REGISTRATION)
  # The framework is imported by ordinal only, through an import library made
  # from the list of the operations used.
  set(pelindra_framework_def ${pelindra_shell_dir}/framework_imports.def)
  set(pelindra_framework_implib ${PROJECT_BINARY_DIR}/libmfcce300_imports.a)
  add_custom_command(OUTPUT ${pelindra_framework_implib}
    COMMAND ${CMAKE_DLLTOOL} --input-def ${pelindra_framework_def}
            --output-lib ${pelindra_framework_implib}
    DEPENDS ${pelindra_framework_def}
    COMMENT "Building the import library for mfcce300.dll"
    VERBATIM)
  add_custom_target(pelindra_framework_implib DEPENDS ${pelindra_framework_implib})
  add_dependencies(MorvanePelindra pelindra_framework_implib)

  target_sources(MorvanePelindra PRIVATE ${pelindra_shell_dir}/dll_entry_win32.cpp)
  target_link_libraries(MorvanePelindra PRIVATE ${pelindra_framework_implib})
  # The early hook has to run before the C runtime's start-up code, so the
  # image's entry is ours and calls the runtime's entry itself.
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    target_link_options(MorvanePelindra PRIVATE "LINKER:-e,_PelindraDllEntry@12")
  else()
    target_link_options(MorvanePelindra PRIVATE "LINKER:-e,PelindraDllEntry")
  endif()
endif()

# The host links the C and C++ runtimes in as well, so it runs from a bare
# directory holding it and the DLL.
target_link_options(pelindra PRIVATE -static)
