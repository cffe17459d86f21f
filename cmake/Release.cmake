# The release an organisation deploys, one version throughout (project(VERSION)):
#
#   cmake --preset windows-x64 && cmake --build --preset windows-x64 --target release
#
# builds the 32-bit programs too (in the windows-x86 preset's tree) and leaves in
# <64-bit build>/release (or $QTK_RELEASE_DIR): kit-<version>.zip, kit-<version>-x64.msi,
# kit-<version>-x86.msi and SHA256SUMS, signed when the QTK_SIGN_* variables name a
# certificate (scripts/sign.sh). packaging/make-release.sh does the assembling.

# Every Windows tree stages its own programs, stripped: symbols are no use on a desk and only
# make the download bigger. Stripping comes before signing, which it would undo.
set(QTK_RELEASE_STAGE ${PROJECT_BINARY_DIR}/release-stage)
add_custom_target(qtk_release_stage
  COMMAND ${CMAKE_COMMAND} -E make_directory ${QTK_RELEASE_STAGE}
  COMMAND ${CMAKE_STRIP} --strip-all -o ${QTK_RELEASE_STAGE}/tkcheck.exe $<TARGET_FILE:tkcheck>
  COMMAND ${CMAKE_STRIP} --strip-all -o ${QTK_RELEASE_STAGE}/tkexamine.exe
          $<TARGET_FILE:tkexamine>
  COMMAND ${CMAKE_STRIP} --strip-all -o ${QTK_RELEASE_STAGE}/tkfleet.exe $<TARGET_FILE:tkfleet>
  DEPENDS tkcheck tkexamine tkfleet
  COMMENT "Staging the stripped programs in ${QTK_RELEASE_STAGE}"
  VERBATIM)

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  find_program(QTK_RELEASE_BASH bash REQUIRED)
  # The 32-bit programs come from the windows-x86 preset, configured and built on demand.
  set(QTK_RELEASE_X86_BUILD ${PROJECT_SOURCE_DIR}/build/windows-x86 CACHE PATH
      "Build tree of the 32-bit programs for the release")
  set(QTK_RELEASE_DIR ${PROJECT_BINARY_DIR}/release CACHE PATH
      "Where the release target leaves the kit (QTK_RELEASE_DIR in the environment wins)")

  add_custom_target(release
    COMMAND ${CMAKE_COMMAND} --preset windows-x86 -B ${QTK_RELEASE_X86_BUILD}
    COMMAND ${CMAKE_COMMAND} --build ${QTK_RELEASE_X86_BUILD} --target qtk_release_stage
    COMMAND ${QTK_RELEASE_BASH} ${PROJECT_SOURCE_DIR}/packaging/make-release.sh
            ${PROJECT_VERSION} ${QTK_RELEASE_STAGE} ${QTK_RELEASE_X86_BUILD}/release-stage
            ${QTK_RELEASE_DIR}
    DEPENDS qtk_release_stage
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    USES_TERMINAL
    VERBATIM)
endif()
