# qtk_windows_program(<name> [CONSOLE] DESCRIPTION <text> ASSEMBLY <manifest name>
#                     SOURCES <file>... [LIBRARIES <lib>...])
# qtk_windows_program(<name> TEST SOURCES <file>... [LIBRARIES <lib>...])
#
# Every Windows program of the build, shipped or not, comes from here: the definitions
# and the hardening flags and static linking are the same for all, so a program's own
# CMake file names only its sources and libraries, and a test or bench program cannot
# drift from what it stands beside. Release builds are stripped: the shipped file carries
# no debug sections.
#
# The kinds:
#   (none)   a window program (wWinMain) of the kit: icon, version information (from
#            project(VERSION)) and the manifest
#   CONSOLE  the same, a console-subsystem program (wmain)
#   TEST     a console program that only the tests and benches run: no icon, version
#            information or manifest, so that nothing about it is mistaken for the kit's
#
# An OBJECT library in LIBRARIES adds its objects, so that two programs can share them
# (tkexamine and its fault-injecting test build); it takes the same definitions by linking
# qtk_windows_defaults.
find_package(Python3 REQUIRED COMPONENTS Interpreter)

# Lean without giving up any hardening: every function and datum of the Windows build (its
# libraries included) in a section of its own, so that the programs' linker drops what
# nothing reaches (--gc-sections, below), and the shipped Release built for size (-Os over
# the default -O3; the last -O wins). The programs wait on the registry and the file
# system, not on their own code: under Wine the examination takes as long at -Os.
add_compile_options(-ffunction-sections -fdata-sections $<$<CONFIG:Release>:-Os>)

set(QTK_PROGRAM_TEMPLATES ${CMAKE_CURRENT_LIST_DIR})

# What every Windows program and every object compiled for one shares.
add_library(qtk_windows_defaults INTERFACE)
target_compile_definitions(qtk_windows_defaults INTERFACE UNICODE _UNICODE WIN32_LEAN_AND_MEAN
                                                          NOMINMAX _WIN32_WINNT=0x0601)
# Static: no MinGW runtime DLL beside the program to be planted or missed. ASLR and DEP
# always; high-entropy ASLR where there is room for it.
target_link_options(qtk_windows_defaults INTERFACE -municode -static -static-libgcc
                    -static-libstdc++ -Wl,--dynamicbase -Wl,--nxcompat -Wl,--gc-sections
                    $<$<CONFIG:Release,MinSizeRel>:-s>)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  target_link_options(qtk_windows_defaults INTERFACE -Wl,--high-entropy-va)
else()
  target_link_options(qtk_windows_defaults INTERFACE -Wl,--large-address-aware)
endif()

function(qtk_windows_program name)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "CONSOLE;TEST" "DESCRIPTION;ASSEMBLY" "SOURCES;LIBRARIES")
  if(ARG_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "qtk_windows_program(${name}): unknown arguments ${ARG_UNPARSED_ARGUMENTS}")
  endif()

  if(ARG_TEST)
    if(ARG_CONSOLE OR ARG_DESCRIPTION OR ARG_ASSEMBLY)
      message(FATAL_ERROR "qtk_windows_program(${name}): a TEST program has no resources")
    endif()
    add_executable(${name} ${ARG_SOURCES})
  else()
    if(NOT ARG_DESCRIPTION OR NOT ARG_ASSEMBLY)
      message(FATAL_ERROR "qtk_windows_program(${name}): DESCRIPTION and ASSEMBLY are needed")
    endif()
    set(QTK_PROGRAM_NAME ${name})
    set(QTK_PROGRAM_DESCRIPTION ${ARG_DESCRIPTION})
    set(QTK_PROGRAM_ASSEMBLY ${ARG_ASSEMBLY})
    set(QTK_PROGRAM_ICON ${CMAKE_CURRENT_BINARY_DIR}/${name}.ico)
    set(QTK_PROGRAM_MANIFEST ${CMAKE_CURRENT_BINARY_DIR}/${name}.manifest)
    set(rc ${CMAKE_CURRENT_BINARY_DIR}/${name}.rc)

    add_custom_command(
      OUTPUT ${QTK_PROGRAM_ICON}
      COMMAND Python3::Interpreter ${PROJECT_SOURCE_DIR}/tools/make_icon.py ${QTK_PROGRAM_ICON}
      DEPENDS ${PROJECT_SOURCE_DIR}/tools/make_icon.py
      COMMENT "Drawing the icon of ${name}")
    configure_file(${QTK_PROGRAM_TEMPLATES}/program.manifest.in ${QTK_PROGRAM_MANIFEST} @ONLY)
    configure_file(${QTK_PROGRAM_TEMPLATES}/program.rc.in ${rc} @ONLY)
    set_source_files_properties(${rc} PROPERTIES
      OBJECT_DEPENDS "${QTK_PROGRAM_ICON};${QTK_PROGRAM_MANIFEST}")

    set(subsystem WIN32)
    if(ARG_CONSOLE)
      set(subsystem "")
    endif()
    add_executable(${name} ${subsystem} ${ARG_SOURCES} ${rc})
  endif()
  target_link_libraries(${name} PRIVATE qtk_windows_defaults ${ARG_LIBRARIES})
endfunction()
