# The companion's end-to-end cases, included by tests/e2e/CMakeLists.txt. They run on the
# bench's own template prefix, work directory and probe, as cases/companion_*.sh on
# lib/companion.sh, with their data in companion/.

# tkexamine with the writer's fault hook compiled in (kill between renames, hold a run
# mid-way), for the writer case only; the shipped program reads no such hook. The same
# objects as tkexamine (companion/win32/CMakeLists.txt), its writer compiled with the one
# define, and the same resources and hardening.
qtk_windows_program(tkexamine_faults CONSOLE
  DESCRIPTION "QUORIN Token Key Check - examination (fault-injecting test build)"
  ASSEMBLY Quorin.TokenKeyCheck.Examine
  SOURCES ${PROJECT_SOURCE_DIR}/companion/win32/win32_output.cpp
  LIBRARIES qtk_examine_objects)
target_compile_definitions(tkexamine_faults PRIVATE QTK_WRITER_FAULTS)

# Hardened like the diagnostic, but a console program; the test build too, since the
# writer case's verdicts are only worth as much as its likeness to the shipped program.
add_test(NAME e2e.companion_binary
  COMMAND ${QTK_BASH} ${CMAKE_CURRENT_LIST_DIR}/cases/binary.sh
          $<TARGET_FILE:tkexamine> ${QTK_OBJDUMP} ${CMAKE_SIZEOF_VOID_P} console)
add_test(NAME e2e.companion_faults_binary
  COMMAND ${QTK_BASH} ${CMAKE_CURRENT_LIST_DIR}/cases/binary.sh
          $<TARGET_FILE:tkexamine_faults> ${QTK_OBJDUMP} ${CMAKE_SIZEOF_VOID_P} console)
# tkfleet.exe travels in the same kit and is held to the same.
add_test(NAME e2e.fleet_binary
  COMMAND ${QTK_BASH} ${CMAKE_CURRENT_LIST_DIR}/cases/binary.sh
          $<TARGET_FILE:tkfleet> ${QTK_OBJDUMP} ${CMAKE_SIZEOF_VOID_P} console)
set_tests_properties(e2e.companion_binary e2e.companion_faults_binary e2e.fleet_binary PROPERTIES
  TIMEOUT 30 LABELS e2e)

# The packaged 64-bit Wine runs only the 64-bit build.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  find_program(QTK_OPENSSL openssl REQUIRED)
  set(QTK_COMPANION_CASE_OPTIONS
    --tkexamine $<TARGET_FILE:tkexamine> --faults $<TARGET_FILE:tkexamine_faults>
    --kit ${PROJECT_BINARY_DIR}/kit --schema ${PROJECT_SOURCE_DIR}/docs/report.schema.json
    --version ${PROJECT_VERSION})
  # The token case adds certificates it makes itself (openssl) through the probe; the
  # detect case installs the kit by an MSI it builds with wixl from packaging/kit.wxs.
  foreach(case cli examine directory run_check writer ie_mode token detect fleet fix)
    qtk_e2e_case(companion_${case} companion_${case}.sh ${QTK_COMPANION_CASE_OPTIONS})
  endforeach()

  # The token rows against a real PC/SC stack on the host (pcscd, the vsmartcard virtual
  # reader and card), reached through a stand-in winscard.dll that carries each call to a
  # relay on pcsc-lite (pcsc/): Debian's Wine has no working smart-card layer. Test-only,
  # never in the kit. One pcscd per machine (its socket path is built in), hence the lock;
  # a machine without the packages skips the cases and says why.
  add_library(qtk_winscard_relay SHARED ${CMAKE_CURRENT_LIST_DIR}/pcsc/winscard_relay.cpp)
  set_target_properties(qtk_winscard_relay PROPERTIES OUTPUT_NAME winscard PREFIX "")
  target_link_libraries(qtk_winscard_relay PRIVATE ws2_32)
  target_link_options(qtk_winscard_relay PRIVATE -static -static-libgcc -static-libstdc++)
  foreach(state card removed no_reader stopped arrival)
    qtk_e2e_case(companion_pcsc_${state} companion_pcsc.sh ${QTK_COMPANION_CASE_OPTIONS}
                 --winscard $<TARGET_FILE:qtk_winscard_relay> -- ${state})
    set_tests_properties(e2e.companion_pcsc_${state} PROPERTIES
      RESOURCE_LOCK pcscd SKIP_RETURN_CODE 77)
  endforeach()
endif()

# The floors of the examination benchmark (bench/examine_bench.sh), built like tkexamine:
# an empty console program, and one that reads what the examination reads and asks the
# zone manager what it asks.
foreach(floor floor_console floor_registry)
  qtk_windows_program(${floor} CONSOLE
    DESCRIPTION "QUORIN Token Key Check - examination floor"
    ASSEMBLY Quorin.TokenKeyCheck.Floor
    SOURCES ${PROJECT_SOURCE_DIR}/bench/${floor}.cpp)
endforeach()
target_link_libraries(floor_registry PRIVATE qtk_companion_win32 qtk_companion_core qtk_win32
                      advapi32)

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  # Keeps the examination benchmark working on a small registry; one run says nothing
  # about speed, and nothing is asserted about time.
  add_test(NAME bench.examine_smoke
    COMMAND ${QTK_BASH} ${PROJECT_SOURCE_DIR}/bench/examine_bench.sh -n 1 -s 0.02
            -w ${QTK_E2E_WORK}/examine_smoke ${PROJECT_BINARY_DIR})
  set_tests_properties(bench.examine_smoke PROPERTIES
    FIXTURES_REQUIRED qtk_wine_template
    TIMEOUT ${QTK_E2E_TIMEOUT}
    LABELS "e2e;bench")
endif()
