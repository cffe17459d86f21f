# qtk_windows_program(<name> [CONSOLE] DESCRIPTION <text> ASSEMBLY <manifest name>
#                     SOURCES <file>... [LIBRARIES <lib>...])
#
# One Windows program of the kit: icon, version information (from project(VERSION)), the
# manifest, the hardening flags and static linking all come from here, so a program's own
# CMake file names only its sources and libraries. Release builds are stripped: the
# shipped file carries no debug sections. CONSOLE makes a console-subsystem program
# (wmain) instead of a window program (wWinMain).
find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(QTK_PROGRAM_TEMPLATES ${CMAKE_CURRENT_LIST_DIR})

function(qtk_windows_program name)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "CONSOLE" "DESCRIPTION;ASSEMBLY" "SOURCES;LIBRARIES")
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
  target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES})
  target_compile_definitions(${name} PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                                             _WIN32_WINNT=0x0601)
  # Static: no MinGW runtime DLL beside the program to be planted or missed. ASLR and DEP
  # always; high-entropy ASLR where there is room for it.
  target_link_options(${name} PRIVATE -municode -static -static-libgcc -static-libstdc++
                      -Wl,--dynamicbase -Wl,--nxcompat $<$<CONFIG:Release,MinSizeRel>:-s>)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    target_link_options(${name} PRIVATE -Wl,--high-entropy-va)
  else()
    target_link_options(${name} PRIVATE -Wl,--large-address-aware)
  endif()
endfunction()
