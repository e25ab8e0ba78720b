@echo off
rem Prints the value of KEY in a JSON object that tessaro or tessaro-info
rem wrote: text without its quotes, a number, true, false or null. Exits 1
rem when the key is not there.
rem
rem   json-value.cmd FILE KEY
rem
rem The objects are written one member to a line, and the keys deploy\ reads
rem (outcome; decision, pid, vid, imagePid, imageVid, configVersion,
rem fileVersion) are each the only one of their name in the object: the first
rem line naming the key holds its value. Free text (station, unit) cannot
rem pass for a key: its quotes are escaped. Everything deploy\ knows of the
rem objects' form (schema 1: a VID is "01 00 00 02", a version a number) is in
rem this file.
setlocal EnableExtensions DisableDelayedExpansion
if not exist "%~1" exit /b 1
set "value="
for /f "usebackq tokens=1,* delims=:" %%a in (`type "%~1" ^| find """%~2"":"`) do (
  if not defined value set "value=%%b"
)
if not defined value exit /b 1
rem " value," -> value
set "value=%value:~1%"
if "%value:~-1%"=="," set "value=%value:~0,-1%"
set "value=%value:"=%"
echo.%value%
exit /b 0
