@echo off
rem Says whether the touch controller already holds an image: prints one line
rem and exits 0 when it holds the firmware image's VID (and PID) or the
rem configuration file's version; otherwise prints why on standard error and
rem exits 1. It only reads the controller (tessaro-info plan).
rem
rem   detect.cmd firmware FILE [--flag=N]
rem   detect.cmd config FILE
rem
rem tessaro-info.exe is taken from this file's folder, else from the one
rem above it (the zip's layout). TESSARO_DEPLOY_SIM=1 uses the simulated
rem twin, tessaro-info-sim.exe. TESSARO_DEVICE names the controller's path
rem where a machine has several.
setlocal EnableExtensions EnableDelayedExpansion
set "here=%~dp0"
set "job=%~1"
if /i not "%job%"=="firmware" if /i not "%job%"=="config" goto :usage
if "%~2"=="" goto :usage
set "image=%~f2"
set "extra="
:options
if "%~3"=="" goto :run
set "extra=!extra! %3"
shift /3
goto :options

:run
set "info=tessaro-info"
if "%TESSARO_DEPLOY_SIM%"=="1" set "info=tessaro-info-sim"
set "program=%here%%info%.exe"
if not exist "%program%" set "program=%here%..\%info%.exe"
if not exist "%program%" goto :no_program
rem Expanded late: a Windows device path holds "&", which must not split the line.
if defined TESSARO_DEVICE set "extra=!extra! --device "!TESSARO_DEVICE!""
set "plan=%TEMP%\tessaro-plan-%RANDOM%%RANDOM%.json"
"%program%" --json plan %job% "%image%" %extra% > "%plan%" 2> nul
call :value decision decision
call :value why why
if /i "%job%"=="firmware" (
  call :value pid have_pid
  call :value vid have
  call :value imagePid want_pid
  call :value imageVid want
) else (
  call :value configVersion have
  call :value fileVersion want
)
del "%plan%" > nul 2>&1

if not defined decision goto :no_plan
if not defined have goto :not_current
if /i not "!have!"=="!want!" goto :not_current
if /i "%job%"=="firmware" if /i not "!have_pid!"=="!want_pid!" goto :not_current
if /i "%job%"=="firmware" (
  echo Tessaro: the controller holds firmware VID !have! ^(PID !have_pid!^)
) else (
  echo Tessaro: the controller holds configuration version !have!
)
exit /b 0

:not_current
echo detect: not current: !decision!: !why! 1>&2
exit /b 1

:no_program
echo detect: %info%.exe not found in %here% 1>&2
exit /b 1

:no_plan
echo detect: tessaro-info gave no plan for %image% 1>&2
exit /b 1

:value
set "%2="
for /f "usebackq delims=" %%v in (`call "%here%json-value.cmd" "%plan%" %1`) do set "%2=%%v"
if "!%2!"=="null" set "%2="
exit /b 0

:usage
echo usage: detect.cmd firmware^|config FILE [--flag=N] 1>&2
exit /b 1
