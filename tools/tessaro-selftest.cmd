@echo off
rem Checks this build on a Windows PC before its first real job, in about a
rem minute and without touching any controller: the simulated twins
rem (tessaro-sim.exe, tessaro-info-sim.exe) rehearse in a temporary folder,
rem each check prints one PASS or FAIL line (with what went wrong), then a
rem summary; last, tessaro-info.exe lists the HID devices this PC really has.
rem Attach the whole output to a support request:
rem
rem   tessaro-selftest.cmd > selftest.txt 2>&1
rem
rem The programs are looked for beside this file (TESSARO_BIN_DIR names
rem another folder), the sample files in samples\ beside it or in ..\samples
rem (TESSARO_SAMPLES_DIR names another). Plain cmd: no PowerShell needed.
rem Exit code: the number of checks that failed.
setlocal EnableExtensions EnableDelayedExpansion
set "bin=%~dp0"
if defined TESSARO_BIN_DIR set "bin=%TESSARO_BIN_DIR%\"
set "samples=%~dp0samples"
if not exist "%samples%\firmware.bin" set "samples=%~dp0..\samples"
if defined TESSARO_SAMPLES_DIR set "samples=%TESSARO_SAMPLES_DIR%"
set "sim=%bin%tessaro-sim.exe"
set "infosim=%bin%tessaro-info-sim.exe"
set passed=0
set failed=0
set skipped=0

echo tessaro selftest
if not exist "%sim%" (
  echo FAIL: %sim% not found; set TESSARO_BIN_DIR to the folder of the .exe files
  exit /b 1
)
if not exist "%samples%\firmware.bin" (
  echo FAIL: samples\firmware.bin not found beside this file; set TESSARO_SAMPLES_DIR
  exit /b 1
)
if not exist "%samples%\config.txt" (
  echo FAIL: samples\config.txt not found beside this file; set TESSARO_SAMPLES_DIR
  exit /b 1
)
"%sim%" --version > "%TEMP%\tessaro-selftest-version.txt" 2>&1
set /p version=< "%TEMP%\tessaro-selftest-version.txt"
del "%TEMP%\tessaro-selftest-version.txt" > nul 2>&1
echo version %version%, programs in %bin%

rem The names of files outside the ANSI code page are shown right only in
rem UTF-8; the console's own code page comes back at the end.
set "oldcp="
for /f "tokens=2 delims=:." %%c in ('chcp') do set /a "oldcp=%%c" > nul 2>&1
chcp 65001 > nul 2>&1

set "root=%TEMP%\tessaro-selftest-%RANDOM%%RANDOM%"
mkdir "%root%" > nul 2>&1
if not exist "%root%\" (
  echo FAIL: cannot make a folder in %TEMP%
  exit /b 1
)
set "here=%CD%"

rem --- A firmware update.
call :fresh firmware
"%sim%" -f --file=fw.bin > out.txt 2>&1
call :check "a firmware update" !ERRORLEVEL! 0 "Update Firmware Success"

rem --- A configuration update.
call :fresh config
"%sim%" -c --file=cfg.txt > out.txt 2>&1
call :check "a configuration update" !ERRORLEVEL! 0 "Update Cfg Success"

rem --- The companion finds and reads the simulated controller.
call :fresh info
if exist "%infosim%" (
  "%infosim%" devices > out.txt 2>&1
  call :check "tessaro-info-sim devices finds the controller" !ERRORLEVEL! 0 "tessaro takes this one"
) else (
  call :skip "tessaro-info-sim devices finds the controller" "tessaro-info-sim.exe is not beside this file"
)

rem --- An update cut in the middle (the host dies after 300 HID events),
rem then the same job again, which finishes it.
call :fresh cut
> tessaro-sim.json echo {"faults": {"killAfterEvents": 300}}
"%sim%" -f --file=fw.bin > cut.txt 2>&1
set "cutcode=!ERRORLEVEL!"
"%sim%" -f --file=fw.bin > out.txt 2>&1
set "rerun=!ERRORLEVEL!"
if "!cutcode!"=="137" (
  call :check "an update cut in the middle, then run again" !rerun! 0 "Update Firmware Success"
) else (
  copy /y cut.txt out.txt > nul
  call :fail "an update cut in the middle, then run again" "the cut run ended with !cutcode!, expected 137"
)

rem --- A second run while the first holds the controller: told it is in
rem use, nothing sent, -1; the first ends as usual.
call :fresh busy
start "" /b cmd /c ""%sim%" -f --file=fw.bin > first.txt 2>&1 & echo done> first.end"
set "busycode=none"
for /l %%i in (1,1,40) do if "!busycode!"=="none" if not exist first.end call :query-busy
rem About a second a turn where ping is at hand, a run of the program elsewhere.
for /l %%i in (1,1,60) do if not exist first.end call :pause
if "!busycode!"=="none" (
  call :fail "a second run while the first holds the controller" "the second run was never told the controller is in use"
  goto :longpath
)
call :holds first.txt "Update Firmware Success"
if defined found goto :busy-check
copy /y first.txt out.txt > nul
call :fail "a second run while the first holds the controller" "the first run did not end in success"
goto :longpath
:busy-check
call :check "a second run while the first holds the controller" !busycode! -1 "controller in use by another process"

:longpath
rem --- A file deep in a folder tree, its full path past 260 characters.
rem Where cmd keeps to the classic limit, through the \\?\ prefix; the
rem configuration, since cmd can write a text file there.
call :fresh long
set "deep=%root%\long"
for %%s in (a b c d e) do set "deep=!deep!\folder-%%s-of-a-deep-tree-as-line-pcs-have-them-0123456789"
mkdir "%deep%" > nul 2>&1
if not exist "%deep%\" mkdir "\\?\%deep%" > nul 2>&1
type cfg.txt > "%deep%\cfg.txt" 2> nul
if not exist "%deep%\cfg.txt" type cfg.txt > "\\?\%deep%\cfg.txt" 2> nul
if exist "%deep%\cfg.txt" (
  "%sim%" -c --file="%deep%\cfg.txt" > out.txt 2>&1
  call :check "a file whose path is longer than 260 characters" !ERRORLEVEL! 0 "Update Cfg Success"
) else (
  call :skip "a file whose path is longer than 260 characters" "this cmd cannot write such a file"
)

rem --- A file name outside the ANSI code page (Chinese and Cyrillic).
call :fresh unicode
set "uname=固件-ёж.bin"
copy /y fw.bin "%uname%" > nul
"%sim%" -f --file="%uname%" > out.txt 2>&1
call :check "a file name outside the ANSI code page" !ERRORLEVEL! 0 "Update Firmware Success"

rem --- A query's result as the whole 32-bit exit code: VID C0 FF EE 42 is
rem -1056969150 in %%ERRORLEVEL%%, not its low byte.
call :fresh exitcode
> tessaro-sim.json echo {"vid": "C0FFEE42"}
"%sim%" -p vid > out.txt 2>&1
call :check "the full 32-bit exit code of a query" !ERRORLEVEL! -1056969150 "VID:c0 ff ee 42"

cd /d "%here%"
rmdir /s /q "%root%" > nul 2>&1
echo.
echo selftest: !passed! passed, !failed! failed, !skipped! skipped

echo.
echo HID devices of this PC, as tessaro-info sees them:
if exist "%bin%tessaro-info.exe" (
  "%bin%tessaro-info.exe" devices
  echo ^(tessaro-info exit code !ERRORLEVEL!^)
) else (
  echo tessaro-info.exe is not beside this file
)
if defined oldcp if not "!oldcp!"=="0" chcp !oldcp! > nul 2>&1
exit /b !failed!

rem One query while the first run may hold the controller.
:query-busy
"%sim%" -p pid > out.txt 2>&1
set "code=!ERRORLEVEL!"
call :holds out.txt "controller in use by another process"
if defined found set "busycode=!code!"
goto :eof

:pause
ping -n 2 127.0.0.1 > nul 2>&1
if errorlevel 1 "%sim%" --version > nul 2>&1
goto :eof

rem A folder of its own for one check, with the samples in it.
:fresh
cd /d "%root%"
mkdir "%~1"
cd /d "%root%\%~1"
copy /y "%samples%\firmware.bin" fw.bin > nul
copy /y "%samples%\config.txt" cfg.txt > nul
goto :eof

rem :check NAME EXITCODE EXPECTED TEXT: passes when the run ended with the
rem expected code and its output (out.txt) holds the text.
:check
if not "%~2"=="%~3" (
  call :fail "%~1" "exit code %~2, expected %~3"
  goto :eof
)
call :holds out.txt "%~4"
if not defined found (
  call :fail "%~1" "no line with: %~4"
  goto :eof
)
echo PASS  %~1
set /a passed+=1
goto :eof

rem :holds FILE TEXT: found is defined when a line of FILE holds TEXT (find
rem and findstr are not alike everywhere, with lines as long as a progress
rem bar's).
:holds
set "found="
set "wanted=%~2"
for /f "usebackq delims=" %%l in ("%~1") do (
  set "line=%%l"
  call :holds-line
)
goto :eof
:holds-line
call set "rest=%%line:%wanted%=%%"
if not "%rest%"=="%line%" set "found=1"
goto :eof

rem :fail NAME REASON, followed by the run's output for support.
:fail
echo FAIL  %~1: %~2
if exist out.txt for /f "usebackq delims=" %%l in ("out.txt") do echo       %%l
set /a failed+=1
goto :eof

:skip
echo SKIP  %~1: %~2
set /a skipped+=1
goto :eof
