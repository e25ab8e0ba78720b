@echo off
rem Installs tessaro and brings the touch controller to a firmware image or a
rem configuration, for Intune and Configuration Manager: copies the programs
rem to %ProgramFiles%\Tessaro (the 64-bit one), runs the job in %ProgramData%\Tessaro (its log,
rem TessaroLogFile.txt, and its result, result.json, land there), and ends
rem with one of the return codes below, which both consoles can tell apart.
rem
rem   install.cmd firmware FILE [--flag=N] [--ignoreVer]
rem   install.cmd config FILE [--ignoreVer]
rem
rem      0  updated: the controller now holds the image
rem   1707  already current: nothing was written
rem   1618  controller busy (another program holds it): try again later
rem   1633  not applicable: firmware for another product ID, or the controller
rem         holds a newer configuration
rem   1167  no controller found
rem   1619  the image could not be read or was refused; nothing was written
rem   1603  the update failed (TessaroLogFile.txt says where)
rem   1632  the programs could not be copied
rem   1639  wrong command line
rem
rem The programs come from the folder above this file (the zip's layout).
rem TESSARO_DEPLOY_SIM=1 installs and runs the simulated twins
rem (tessaro-sim.exe, tessaro-info-sim.exe) instead, for rehearsal.
rem TESSARO_DEVICE names the controller's path where a machine has several.
setlocal EnableExtensions EnableDelayedExpansion
set "here=%~dp0"
set "job=%~1"
set "switch="
if /i "%job%"=="firmware" set "switch=-f"
if /i "%job%"=="config" set "switch=-c"
if not defined switch goto :usage
if "%~2"=="" goto :usage
set "source=%~f2"
set "name=%~nx2"
set "extra="
:options
if "%~3"=="" goto :run
set "extra=!extra! %3"
shift /3
goto :options

:run
set "tool=tessaro"
set "info=tessaro-info"
if "%TESSARO_DEPLOY_SIM%"=="1" (
  set "tool=tessaro-sim"
  set "info=tessaro-info-sim"
)
rem A 32-bit caller (Intune's agent is one) sees Program Files (x86) as
rem %ProgramFiles%; the programs are 64-bit and belong in the other.
set "bin=%ProgramFiles%\Tessaro"
if defined ProgramW6432 set "bin=%ProgramW6432%\Tessaro"
set "data=%ProgramData%\Tessaro"
if not exist "%source%" goto :no_image
if not exist "%bin%\" mkdir "%bin%"
if not exist "%data%\" mkdir "%data%"
rem (Each failure is tested with IF ERRORLEVEL: some cmd implementations take
rem || for any result.)
set "failed="
for %%f in ("%here%..\%tool%.exe" "%here%..\%info%.exe" "%here%detect.cmd" "%here%json-value.cmd") do (
  copy /y "%%~f" "%bin%\" > nul 2>&1
  if errorlevel 1 set "failed=%%~f"
)
rem The image stays beside the log, under its own name, for detect.cmd.
if /i "%source%"=="%data%\%name%" goto :copied
copy /y "%source%" "%data%\%name%" > nul 2>&1
if errorlevel 1 set "failed=%source%"
:copied
if defined failed goto :not_copied

set "result=%data%\result.json"
del "%result%" > nul 2>&1
pushd "%data%"
set "TESSARO_RESULT=%result%"
"%bin%\%tool%.exe" %switch% "--file=%data%\%name%" %extra%
set "code=%ERRORLEVEL%"
set "TESSARO_RESULT="
popd

set "outcome="
for /f "usebackq delims=" %%v in (`call "%here%json-value.cmd" "%result%" outcome`) do set "outcome=%%v"
echo install: %tool% ended with %code%, outcome !outcome!
if "!outcome!"=="updated" exit /b 0
if "!outcome!"=="not-needed-same-vid" exit /b 1707
if "!outcome!"=="not-needed-other-pid" exit /b 1633
if "!outcome!"=="not-needed-version" goto :version_not_needed
if "!outcome!"=="busy" exit /b 1618
if "!outcome!"=="no-controller" exit /b 1167
if "!outcome!"=="refused-file" exit /b 1619
if "!outcome!"=="refused-options" exit /b 1639
rem A command line tessaro cannot parse ends with 1 and may leave no record.
if not defined outcome if "%code%"=="1" exit /b 1639
exit /b 1603

:version_not_needed
rem Equal is current; a newer configuration is not this package's to undo.
rem detect.cmd prints its line only when the controller holds the file's version.
set "current="
for /f "usebackq delims=" %%l in (`call "%here%detect.cmd" %job% "%data%\%name%" %extra% 2^>nul`) do set "current=%%l"
if defined current exit /b 1707
exit /b 1633

:no_image
echo install: %source% not found
exit /b 1619

:not_copied
echo install: cannot copy !failed!
exit /b 1632

rem (Each ending is a label of its own: some cmd implementations run on past
rem an EXIT /B inside parentheses.)
:usage
echo usage: install.cmd firmware^|config FILE [--flag=N] [--ignoreVer]
exit /b 1639
