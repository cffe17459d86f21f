@echo off
rem The whole kit in one click: examine this workstation, then show the result.
rem Exit codes 0, 1 and 2 are the examination's verdicts (all passed, something failed,
rem something undecided): the diagnostic shows them row by row. Anything else means the
rem examination could not complete and wrote no markers; its error is already on the
rem screen, and the pause keeps the window open for whoever double-clicked.
setlocal
"%~dp0tkexamine.exe"
set rc=%errorlevel%
if "%rc%"=="0" goto show
if "%rc%"=="1" goto show
if "%rc%"=="2" goto show
echo.
echo The examination could not complete (exit code %rc%); the diagnostic is not started.
pause
exit /b %rc%
:show
start "" "%~dp0tkcheck.exe"
exit /b 0
