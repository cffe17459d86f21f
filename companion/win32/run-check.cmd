@echo off
rem The whole kit in one click: examine this workstation, then show the result.
rem Exit codes 0, 1 and 2 are the examination's verdicts (all passed, something failed,
rem something undecided): the diagnostic shows them row by row. Anything else means the
rem examination could not complete and wrote no markers; its error is already on the
rem screen, and the pause keeps the window open for whoever double-clicked.
rem
rem
rem run-check.cmd /fix first sets this user's own settings that the failing checks need
rem (tkexamine --fix: trusted sites, the Trusted sites zone's settings, the pop-up
rem blocker's allowed sites; an undo file first). Never without being asked: the Start
rem menu has a shortcut of its own for it. Its list of changes and the undo file's path
rem stay on the screen until a key is pressed.
rem
rem Installed, the two programs sit beside this script. In the kit they sit in x64\ and
rem x86\, and the pair must match the Windows underneath, not this cmd.exe: a 32-bit
rem cmd.exe on 64-bit Windows (started by a 32-bit deployment agent, say) sees
rem PROCESSOR_ARCHITECTURE=x86, and WOW64 gives it the machine's own in
rem PROCESSOR_ARCHITEW6432 ("WOW64 Implementation Details",
rem learn.microsoft.com/windows/win32/winprog64/wow64-implementation-details).
rem ARM64 Windows emulates x86 programs in every version, x64 ones only from Windows 11
rem on ("Emulation on Arm-based devices for x86 or x64 Windows apps",
rem learn.microsoft.com/windows/arm/add-arm-support).
setlocal
set "mode="
if /i "%~1"=="/fix" set "mode=--fix"
if not "%~1"=="" if not defined mode goto usage
set "programs=%~dp0"
if exist "%programs%tkexamine.exe" goto run
set "machine=%PROCESSOR_ARCHITECTURE%"
if defined PROCESSOR_ARCHITEW6432 set "machine=%PROCESSOR_ARCHITEW6432%"
set "pair="
if /i "%machine%"=="AMD64" set "pair=x64"
if /i "%machine%"=="x86" set "pair=x86"
if /i "%machine%"=="ARM64" set "pair=x86"
rem No parenthesised blocks below: a folder such as "kit (2)" would end them early. The
rem pauses keep a refusal on the screen for whoever double-clicked.
if not defined pair goto no_pair
set "programs=%~dp0%pair%\"
if not exist "%programs%tkexamine.exe" goto incomplete
:run
"%programs%tkexamine.exe" %mode%
set rc=%errorlevel%
if "%rc%"=="0" goto show
if "%rc%"=="1" goto show
if "%rc%"=="2" goto show
echo.
echo The examination could not complete (exit code %rc%); the diagnostic is not started.
pause
exit /b %rc%
:show
start "" "%programs%tkcheck.exe"
if not defined mode exit /b 0
echo.
echo The board shows the result of the fix. To put everything back, run the
echo tkexamine --undo line printed above.
pause
exit /b 0

:usage
>&2 echo run-check: unknown option "%~1"; run-check.cmd takes nothing, or /fix.
pause
exit /b 87

:no_pair
>&2 echo run-check: this kit has no programs for a "%machine%" processor.
pause
exit /b 1

:incomplete
>&2 echo run-check: "%programs%tkexamine.exe" is missing; copy the whole kit.
pause
exit /b 1
