@echo off
rem Runs Halvane's Windows-side tests, @VERSION@ (@ARCH@), from this folder.
rem
rem   run-tests.cmd               every test program but those that change what
rem                               the user has installed
rem   run-tests.cmd /all          those too: installs and removes Halvane with
rem                               its MSI, registers and unregisters the
rem                               Firefox host (HKCU only)
rem   run-tests.cmd NAME...       only these programs (keeper_test ...)
rem
rem Plain cmd, as on Windows XP: no PowerShell, no CTest. Each program's
rem GoogleTest report goes to results\NAME.xml, its output to results\NAME.txt,
rem the verdicts to results\summary.txt. The registry keys the tests write are
rem saved first and put back after every program, whatever became of it; a run
rem that was itself stopped leaves them in results\saved, and the next run
rem puts them back before anything else.
setlocal EnableExtensions EnableDelayedExpansion
cd /d "%~dp0"
set all=0
set only=
:options
if "%~1"=="" goto optionsDone
if "%~1"=="/?" goto usage
if /i "%~1"=="/all" (set all=1) else set only=!only! %~1
shift
goto options
:optionsDone

rem The tests' keys: the decisions, the Firefox host's registration, and what
rem the MSI writes. Nothing else of the user's is written.
set keys="HKCU\Software\Marrowin\Quillery\Halvane" "HKCU\Software\Mozilla\NativeMessagingHosts\org.marrowin.halvane" "HKCU\Software\Marrowin\Halvane" "HKCU\Software\Microsoft\Windows\CurrentVersion\App Paths\halvane.exe"
set saved=results\saved

rem The test programs need Windows Vista or later (GoogleTest's threads and the
rem calls that drive Halvane); halvane.exe itself runs on XP.
ver | find "Version 5." >nul
if not errorlevel 1 (
  echo run-tests: the test programs need Windows Vista or later
  exit /b 2
)
rem The tests share the user's Halvane's single-instance mutex and keys.
tasklist /fi "imagename eq halvane.exe" 2>nul | find /i "halvane.exe" >nul
if not errorlevel 1 (
  echo run-tests: Halvane is running: let it end ^(close its window or the page keeping one^), then run this again
  exit /b 2
)
if not exist results mkdir results
del /q results\*.xml results\*.txt 2>nul
call :save
if errorlevel 1 exit /b 2

set passed=0
set failed=0
set skipped=0
if defined only goto chosen
for %%p in (bin\*_test.exe) do call :program %%~np
goto ran
:chosen
for %%p in (%only%) do call :program %%~np
:ran
rmdir /s /q %saved%
call :say !passed! passed, !failed! failed, !skipped! skipped
if !failed! gtr 0 exit /b 1
exit /b 0

rem :program NAME - runs bin\NAME.exe, then puts the keys back.
:program
set name=%~1
set arguments=
if not exist "bin\%name%.exe" (
  set /a failed+=1
  call :say FAILED   %name%: there is no bin\%name%.exe
  goto :eof
)
if /i "%name%"=="installer_test" (
  if not "!all!"=="1" (
    set /a skipped+=1
    call :say skipped  %name%: it installs Halvane; run-tests.cmd /all runs it
    goto :eof
  )
  reg query "HKCU\Software\Marrowin\Halvane" >nul 2>&1
  if not errorlevel 1 (
    set /a skipped+=1
    call :say skipped  %name%: Halvane is installed for this user; remove it first
    goto :eof
  )
  rem The language the package's shortcut passes for this user's language.
  if "!HALVANE_TEST_LANGUAGE!"=="" set HALVANE_TEST_LANGUAGE=en
  set arguments="%cd%\msi\current.msi" "%cd%\msi\a-day-later.msi" "%cd%\msi\other-arch.msi" "%cd%\msi\same-version.msi" "%cd%\msi\next.msi" @ARCH@ @VERSION@ @NEXT_VERSION@ !HALVANE_TEST_LANGUAGE!
)
if /i "%name%"=="browser_host_test" if not "!all!"=="1" set arguments=--gtest_filter=-HostRegistration.*
"bin\%name%.exe" --gtest_output=xml:results\%name%.xml --gtest_also_run_disabled_tests !arguments! >"results\%name%.txt" 2>&1
set status=!errorlevel!
call :restore
if "!status!"=="0" if exist "results\%name%.xml" (
  set /a passed+=1
  call :say passed   %name%
  goto :eof
)
set /a failed+=1
call :say FAILED   %name% ^(exit code !status!^): see results\%name%.txt
goto :eof

rem :save - each key to results\saved\N.reg, or N.none where there is none.
rem Saved keys left by a stopped run are the user's own: put back, kept.
:save
if exist %saved% (
  echo run-tests: putting back the registry keys saved by a run that was stopped
  call :restore
  exit /b 0
)
mkdir %saved%
if not exist %saved%\. exit /b 1
set n=0
for %%k in (%keys%) do (
  set /a n+=1
  reg query %%k >nul 2>&1
  if errorlevel 1 (
    type nul >%saved%\!n!.none
  ) else (
    reg export %%k %saved%\!n!.reg >nul 2>&1
    if errorlevel 1 (echo run-tests: cannot save %%k & exit /b 1)
  )
)
rem cmd's own commands leave the errorlevel of the last reg query as it was.
exit /b 0

rem :restore - each key as saved: the tests' changes deleted, the saved copy imported.
:restore
set n=0
for %%k in (%keys%) do (
  set /a n+=1
  if exist %saved%\!n!.none reg delete %%k /f >nul 2>&1
  if exist %saved%\!n!.reg (
    reg delete %%k /f >nul 2>&1
    reg import %saved%\!n!.reg >nul 2>&1
    if errorlevel 1 echo run-tests: cannot put back %%k: it is saved in %saved%\!n!.reg
  )
)
goto :eof

rem :say TEXT - shown and kept in results\summary.txt.
:say
echo %*
echo %*>>results\summary.txt
goto :eof

:usage
echo run-tests.cmd [/all] [NAME...]
echo   Runs the test programs in bin\ and prints each one's verdict; exit code 0
echo   when all passed. /all also runs those that install Halvane and register
echo   its Firefox host. Reports: results\NAME.xml, output: results\NAME.txt.
exit /b 0
