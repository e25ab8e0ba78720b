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
setlocal EnableExtensions
set "tool=%~dp0tessaro.exe"
if defined TESSARO_BIN set "tool=%TESSARO_BIN%"
if not exist "%tool%" (
  echo support-bundle: %tool% not found; set TESSARO_BIN 1>&2
  exit /b 1
)
rem A number of its own where PowerShell is missing.
set "stamp=%RANDOM%%RANDOM%"
for /f %%t in ('powershell -NoProfile -Command "(Get-Date).ToUniversalTime().ToString('yyyyMMdd-HHmmss')"') do set "stamp=%%t"
set "name=tessaro-support-%COMPUTERNAME%-%stamp%"
set "bundle=%TEMP%\%name%"
mkdir "%bundle%"
if not exist "%bundle%\" exit /b 1

"%tool%" --version > "%bundle%\version.txt" 2>&1
if exist "%~dp0tessaro-info.exe" "%~dp0tessaro-info.exe" devices --json > "%bundle%\devices.json" 2> "%bundle%\devices.err"

if "%~1"=="" goto :pack
echo $ tessaro %* > "%bundle%\console.txt"
set "TESSARO_RESULT=%bundle%\result.json"
set "TESSARO_TRACE=%bundle%\trace.txt"
"%tool%" %* >> "%bundle%\console.txt" 2>&1
rem %ERRORLEVEL% is the whole 32-bit result: a failure is negative.
set "status=%ERRORLEVEL%"
set "TESSARO_RESULT="
set "TESSARO_TRACE="
echo (exit code %status%) >> "%bundle%\console.txt"
type "%bundle%\console.txt"

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

tar -a -c -f "%CD%\%name%.zip" -C "%TEMP%" "%name%"
if not exist "%CD%\%name%.zip" (
  echo support-bundle: cannot write %CD%\%name%.zip; the files are in %bundle% 1>&2
  exit /b 1
)
rmdir /s /q "%bundle%"
echo support bundle: %CD%\%name%.zip
exit /b 0
