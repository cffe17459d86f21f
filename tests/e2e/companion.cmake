# The companion's end-to-end cases, included by tests/e2e/CMakeLists.txt. They run on the
# bench's own template prefix, work directory and case library (lib/bench.sh).

# Shows and spoils access lists and locks registry keys from inside a prefix.
add_executable(tkaclprobe ${CMAKE_CURRENT_LIST_DIR}/companion_acl_probe.cpp)
target_compile_options(tkaclprobe PRIVATE -municode)
target_link_options(tkaclprobe PRIVATE -municode -static)
target_link_libraries(tkaclprobe PRIVATE advapi32)

# Puts test certificates into a prefix user's stores and runs the token examination
# through the companion's own Windows layer.
add_executable(tktokenprobe ${CMAKE_CURRENT_LIST_DIR}/token_probe.cpp
               ${PROJECT_SOURCE_DIR}/companion/win32/win32_registry.cpp)
target_compile_options(tktokenprobe PRIVATE -municode)
target_compile_definitions(tktokenprobe PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                                                _WIN32_WINNT=0x0601)
target_link_options(tktokenprobe PRIVATE -municode -static -static-libgcc -static-libstdc++)
target_link_libraries(tktokenprobe PRIVATE qtk_companion_token_win32 crypt32)

# tkexamine with the writer's fault hook compiled in (kill between renames, hold a run
# mid-way), for the writer case only; the shipped program reads no such hook.
set(QTK_EXAMINE_DIR ${PROJECT_SOURCE_DIR}/companion/win32)
add_executable(tkexamine_faults
  ${QTK_EXAMINE_DIR}/main.cpp ${QTK_EXAMINE_DIR}/examine.cpp ${QTK_EXAMINE_DIR}/secure_directory.cpp
  ${QTK_EXAMINE_DIR}/win32_console.cpp ${QTK_EXAMINE_DIR}/win32_output.cpp
  ${QTK_EXAMINE_DIR}/win32_registry.cpp ${QTK_EXAMINE_DIR}/win32_user.cpp)
target_compile_definitions(tkexamine_faults PRIVATE QTK_WRITER_FAULTS
                           QTK_VERSION="${PROJECT_VERSION}")
target_link_options(tkexamine_faults PRIVATE -municode -static -static-libgcc -static-libstdc++)
target_link_libraries(tkexamine_faults PRIVATE qtk_companion_token_win32 qtk_companion_win32
                      qtk_companion_core qtk_win32 advapi32)

# Hardened like the diagnostic, but a console program.
add_test(NAME e2e.companion_binary
  COMMAND ${QTK_BASH} ${CMAKE_CURRENT_LIST_DIR}/cases/binary.sh
          $<TARGET_FILE:tkexamine> ${QTK_OBJDUMP} ${CMAKE_SIZEOF_VOID_P} console)
set_tests_properties(e2e.companion_binary PROPERTIES TIMEOUT 30 LABELS e2e)

# The packaged 64-bit Wine runs only the 64-bit build.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  foreach(case cli examine directory run_check writer ie_mode)
    add_test(NAME e2e.companion_${case}
      COMMAND ${QTK_BASH} ${CMAKE_CURRENT_LIST_DIR}/companion_${case}.sh
              $<TARGET_FILE:tkcheck> $<TARGET_FILE:tkprobe>
              ${QTK_E2E_TEMPLATE} ${QTK_E2E_WORK} companion_${case}
              $<TARGET_FILE:tkexamine> $<TARGET_FILE:tkaclprobe> ${PROJECT_BINARY_DIR}/kit
              ${PROJECT_SOURCE_DIR}/docs/report.schema.json ${PROJECT_VERSION}
              $<TARGET_FILE:tkexamine_faults>)
    set_tests_properties(e2e.companion_${case} PROPERTIES
      FIXTURES_REQUIRED qtk_wine_template
      TIMEOUT 150
      LABELS e2e)
  endforeach()
  # Seven examinations in one case.
  set_tests_properties(e2e.companion_ie_mode PROPERTIES TIMEOUT 300)
  # The token group through tktokenprobe, with certificates the case makes itself.
  find_program(QTK_OPENSSL openssl REQUIRED)
  add_test(NAME e2e.companion_token
    COMMAND ${QTK_BASH} ${CMAKE_CURRENT_LIST_DIR}/companion_token.sh
            $<TARGET_FILE:tkcheck> $<TARGET_FILE:tkprobe>
            ${QTK_E2E_TEMPLATE} ${QTK_E2E_WORK} companion_token
            $<TARGET_FILE:tkexamine> $<TARGET_FILE:tkaclprobe> ${PROJECT_BINARY_DIR}/kit
            ${PROJECT_SOURCE_DIR}/docs/report.schema.json ${PROJECT_VERSION}
            $<TARGET_FILE:tktokenprobe>)
  set_tests_properties(e2e.companion_token PROPERTIES
    FIXTURES_REQUIRED qtk_wine_template
    TIMEOUT 180
    LABELS e2e)
endif()

# The floors of the examination benchmark (bench/examine_bench.sh), linked exactly like
# tkexamine: an empty console program, and one that reads what the examination reads.
foreach(floor floor_console floor_registry)
  add_executable(${floor} ${PROJECT_SOURCE_DIR}/bench/${floor}.cpp)
  target_compile_definitions(${floor} PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)
  target_link_options(${floor} PRIVATE -municode -static -static-libgcc -static-libstdc++
                      -Wl,--dynamicbase -Wl,--nxcompat $<$<CONFIG:Release,MinSizeRel>:-s>)
endforeach()
target_link_libraries(floor_registry PRIVATE qtk_companion_core advapi32)

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  # Keeps the examination benchmark working on a small registry; one run says nothing
  # about speed, and nothing is asserted about time.
  add_test(NAME bench.examine_smoke
    COMMAND ${QTK_BASH} ${PROJECT_SOURCE_DIR}/bench/examine_bench.sh -n 1 -s 0.02
            -w ${QTK_E2E_WORK}/examine_smoke ${PROJECT_BINARY_DIR})
  set_tests_properties(bench.examine_smoke PROPERTIES
    FIXTURES_REQUIRED qtk_wine_template
    TIMEOUT 300
    LABELS "e2e;bench")
endif()
