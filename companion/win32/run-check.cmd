@echo off
rem The whole kit in one click: examine this workstation, then show the result.
rem The diagnostic is started only when the examination wrote every file; otherwise
rem the examination has already said what went wrong.
setlocal
"%~dp0tkexamine.exe"
if errorlevel 1 exit /b %errorlevel%
start "" "%~dp0tkcheck.exe"
