@echo off
rem Packs what support needs to understand a run of tessaro.exe into one zip:
rem the program's version, the HID devices as tessaro-info sees them (when it
rem is beside this file), the given job run once more with its result file
rem and wire trace, the log file of the current folder, and a short text
rem about the machine.
rem
rem   support-bundle.cmd -f --file=fw.bin      run the job, then pack
rem   support-bundle.cmd                       pack without running a job
rem
rem Run it where the job is run: the log file and the job's files are the
rem current folder's. TESSARO_BIN names the program (default: tessaro.exe
rem beside this file). The zip goes to the current folder. Needs Windows 10
rem 1803 or later (tar.exe, PowerShell).
setlocal EnableExtensions DisableDelayedExpansion
if "%~1"==":job" goto :job
call :wants_help %*
if not errorlevel 1 goto :usage

set "tool=%~dp0tessaro.exe"
if defined TESSARO_BIN set "tool=%TESSARO_BIN%"
if not exist "%tool%" (
  echo support-bundle: %tool% not found; set TESSARO_BIN 1>&2
  exit /b 1
)
rem A number of its own where PowerShell is missing.
set "stamp=%RANDOM%%RANDOM%"
for /f %%t in ('powershell -NoProfile -Command "(Get-Date).ToUniversalTime().ToString('yyyyMMdd-HHmmss')" 2^>nul') do set "stamp=%%t"
rem A folder is made once: a name already taken by a bundle of the same
rem second, or by one still being packed, gets a number of its own.
set "base=tessaro-support-%COMPUTERNAME%-%stamp%"
set "name=%base%"
:claim
if exist "%CD%\%name%.zip" goto :another
mkdir "%TEMP%\%name%" 2> nul
if not errorlevel 1 if exist "%TEMP%\%name%\" goto :claimed
:another
set "name=%base%-%RANDOM%"
goto :claim
:claimed
set "bundle=%TEMP%\%name%"

rem Said before anything is read, so that nothing goes to support unannounced.
echo support-bundle collects, for %CD%\%name%.zip:
echo   version.txt         tessaro --version
if exist "%~dp0tessaro-info.exe" echo   devices.json        tessaro-info devices --json
if "%~1"=="" goto :listed
echo   console.txt         the job's output: tessaro %*
echo   result.json         the job's result record
echo   trace.txt           every byte the job wrote to and read from the controller
goto :log_listed
:listed
if not exist TessaroLogFile.txt goto :log_unlisted
:log_listed
echo   TessaroLogFile.txt  this folder's log: its whole history, earlier runs included
:log_unlisted
echo   machine.txt         Windows version, user and groups, HID devices

"%tool%" --version > "%bundle%\version.txt" 2>&1
if exist "%~dp0tessaro-info.exe" "%~dp0tessaro-info.exe" devices --json > "%bundle%\devices.json" 2> "%bundle%\devices.err"

if "%~1"=="" goto :pack
rem The job runs beside this script, its output into a file that is shown
rem as it grows: cmd has no tee, and Ctrl+C cannot take the file away.
set "TESSARO_BUNDLE_ARGS=%*"
set "TESSARO_BUNDLE_TOOL=%tool%"
set "TESSARO_BUNDLE_DIR_NOW=%bundle%"
set "TESSARO_RESULT=%bundle%\result.json"
set "TESSARO_TRACE=%bundle%\trace.txt"
set "output=%bundle%\job-output.txt"
start "" /b cmd /c call "%~f0" :job
set "shown=0"
:follow
ping -n 2 127.0.0.1 > nul
set "ended="
if exist "%bundle%\job-exit.txt" set "ended=1"
call :show
if not defined ended goto :follow
set "TESSARO_RESULT="
set "TESSARO_TRACE="
set /p status=< "%bundle%\job-exit.txt"
del "%bundle%\job-exit.txt"
> "%bundle%\console.txt" echo $ tessaro %*
type "%output%" >> "%bundle%\console.txt"
del "%output%"
rem %ERRORLEVEL% is the whole 32-bit result: a failure is negative.
>> "%bundle%\console.txt" echo (exit code %status%)
echo (exit code %status%)

:pack
if exist TessaroLogFile.txt copy /y TessaroLogFile.txt "%bundle%\" > nul
set "machine=%bundle%\machine.txt"
echo == date >> "%machine%" 2>&1
powershell -NoProfile -Command "(Get-Date).ToUniversalTime().ToString('u')" >> "%machine%" 2>&1
echo == OS >> "%machine%" 2>&1
ver >> "%machine%" 2>&1
systeminfo | findstr /b /c:"OS Name" /c:"OS Version" /c:"System Type" >> "%machine%" 2>&1
echo == user >> "%machine%" 2>&1
whoami /user /groups >> "%machine%" 2>&1
echo == HID devices >> "%machine%" 2>&1
pnputil /enum-devices /class HIDClass >> "%machine%" 2>&1

tar -a -c -f "%CD%\%name%.zip" -C "%TEMP%" "%name%" > nul 2>&1
if not exist "%CD%\%name%.zip" (
  echo support-bundle: cannot write %CD%\%name%.zip; the files are in %bundle% 1>&2
  exit /b 1
)
rmdir /s /q "%bundle%"
echo support bundle: %CD%\%name%.zip
exit /b 0

rem Prints the job's lines that are new since the last call; the last line
rem only once the job has ended, since it may still be growing.
:show
set "lines=0"
if exist "%output%" for /f %%n in ('type "%output%" ^| find /c /v ""') do set "lines=%%n"
set "limit=%lines%"
if not defined ended set /a limit=lines-1
if %limit% LEQ %shown% exit /b 0
set "n=%shown%"
set "skip="
if not "%shown%"=="0" set "skip=skip=%shown%"
for /f "usebackq %skip% delims=" %%l in ("%output%") do (
  set "line=%%l"
  set /a n+=1
  setlocal EnableDelayedExpansion
  if !n! LEQ !limit! echo.!line!
  endlocal
)
set "shown=%limit%"
exit /b 0

rem The job, started by the script above with its options in the environment.
:job
"%TESSARO_BUNDLE_TOOL%" %TESSARO_BUNDLE_ARGS% > "%TESSARO_BUNDLE_DIR_NOW%\job-output.txt" 2>&1
> "%TESSARO_BUNDLE_DIR_NOW%\job-exit.txt" echo %ERRORLEVEL%
exit /b 0

rem Exits 0 when any option asks for help.
:wants_help
if "%~1"=="" exit /b 1
if "%~1"=="--help" exit /b 0
if "%~1"=="-?" exit /b 0
if "%~1"=="/?" exit /b 0
shift
goto :wants_help

:usage
echo usage: support-bundle.cmd [TESSARO JOB OPTIONS...]
echo Runs the given tessaro.exe job once more, showing its output as it goes, and
echo packs into one zip in the current folder, for support:
echo   version.txt         tessaro --version
echo   devices.json        tessaro-info devices --json, when tessaro-info.exe is beside
echo   console.txt         the job's console output and exit code
echo   result.json         the job's result record (TESSARO_RESULT)
echo   trace.txt           the job's wire trace (TESSARO_TRACE): every byte written to
echo                       and read from the controller
echo   TessaroLogFile.txt  the log file of the current folder: its whole history,
echo                       every earlier run's lines included
echo   machine.txt         Windows version, user and groups, the HID devices
echo Without options no job runs. Ctrl+C during the job reaches tessaro.exe, which
echo finishes an update it has begun; answer N to "Terminate batch job" and the zip
echo is made all the same. TESSARO_BIN names the program.
echo Exit code: 0 once the zip is made, 1 otherwise (the collected files are then
echo kept, and their folder named).
exit /b 0
