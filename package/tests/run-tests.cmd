@echo off
rem Runs Halvane's Windows-side tests, @VERSION@ (@ARCH@), from this folder.
rem
rem   run-tests.cmd               every test program but those that change what
rem                               the user has installed
rem   run-tests.cmd /all          those too: installs and removes Halvane with
rem                               its MSI, registers and unregisters the
rem                               Firefox host (HKCU only)
rem   run-tests.cmd NAME...       only these programs (keeper_test ...)
rem   /limit SECONDS              each program's time limit (default 300)
rem
rem Plain cmd, as on Windows XP: no PowerShell, no CTest. bin\bundle_helper.exe
rem runs each program in a job ended at its time limit, with its GoogleTest
rem report going to results\NAME.xml, its output to results\NAME.txt, and ends
rem whatever it left running; the verdicts go to results\summary.txt. One run
rem at a time (the lock is in %LOCALAPPDATA%\Halvane tests). The registry keys
rem the tests write are saved there first, marked complete, and put back after
rem every program; the copy is removed only once put back. A run that was
rem stopped leaves it, and the next run puts it back before anything else.
setlocal EnableExtensions DisableDelayedExpansion
rem Before delayed expansion, which would take a ! out of the folder's path.
rem pushd gives a network path a drive letter for the run; it sets the
rem errorlevel only when it fails, so the errorlevel is cleared first ((call )).
rem No || anywhere: Wine's cmd runs what follows it even after a success.
(call )
pushd "%~dp0" 2>nul
if errorlevel 1 (
  echo run-tests: cannot work in the folder "%~dp0"
  exit /b 2
)
set "state=%LOCALAPPDATA%\Halvane tests"
setlocal EnableDelayedExpansion
rem The programs this bundle holds, as it was made: each must be there.
set programs=@PROGRAMS@
set all=0
set only=
set limit=300
:options
if "%~1"=="" goto optionsDone
if "%~1"=="/?" goto usage
if /i "%~1"=="/all" (
  set all=1
  shift
  goto options
)
if /i "%~1"=="/limit" (
  set limit=0
  set /a limit=%~2 2>nul
  shift
  shift
  goto options
)
set only=!only! %~1
shift
goto options
:optionsDone
if !limit! leq 0 (
  echo run-tests: /limit takes a number of seconds
  goto fail
)

if not exist bin\bundle_helper.exe (
  echo run-tests: bin\bundle_helper.exe is missing: unzip the whole bundle into a folder and run it
  echo from there ^(not from inside the zip^); your virus scanner may have taken programs out of bin\
  goto fail
)
rem Windows Vista or later, and no Halvane running: it shares the tests' mutex and keys.
bin\bundle_helper.exe ready
if errorlevel 1 goto fail
if not defined LOCALAPPDATA (
  echo run-tests: LOCALAPPDATA is not set
  goto fail
)
if not exist "!state!\." mkdir "!state!"
bin\bundle_helper.exe lock "!state!\lock"
if errorlevel 1 goto fail
call :run
set result=!errorlevel!
rmdir /s /q "!state!\lock"
popd
exit /b %result%
:fail
popd
exit /b 2

rem :run - every program chosen, the keys saved before and put back after each.
:run
rem The tests' keys: the decisions, the Firefox host's registration, and what
rem the MSI writes. Nothing else of the user's is written.
set keys="HKCU\Software\Marrowin\Quillery\Halvane" "HKCU\Software\Mozilla\NativeMessagingHosts\org.marrowin.halvane" "HKCU\Software\Marrowin\Halvane" "HKCU\Software\Microsoft\Windows\CurrentVersion\App Paths\halvane.exe"
set "saved=!state!\saved"
if not exist results mkdir results
del /q results\*.xml results\*.txt 2>nul
call :save
if errorlevel 1 exit /b 2
echo run-tests: until the run ends, the registry keys the tests change are saved in !saved!

set passed=0
set failed=0
set skipped=0
set restoreFailed=0
set chosen=!programs!
if defined only set chosen=!only!
rem Percent expansion here: Wine's cmd does not expand !chosen! in a for's list.
for %%p in (%chosen%) do call :program %%~np
set /a ran=passed+failed
if !restoreFailed!==0 (
  rmdir /s /q "!saved!"
) else (
  set "line=run-tests: some keys could not be put back: the saved copy stays in !saved!, and the next run puts it back"
  call :say
)
set "line=!passed! passed, !failed! failed, !skipped! skipped"
call :say
if !ran!==0 (
  set "line=run-tests: no test program ran"
  call :say
  exit /b 1
)
if !failed! gtr 0 exit /b 1
if !restoreFailed! gtr 0 exit /b 1
exit /b 0

rem :program NAME - runs bin\NAME.exe, then puts the keys back.
:program
set name=%~1
set arguments=
if not exist "bin\%name%.exe" (
  set /a failed+=1
  set "line=FAILED   %name%: there is no bin\%name%.exe"
  call :say
  goto :eof
)
if /i "%name%"=="installer_test" (
  if not "!all!"=="1" (
    set /a skipped+=1
    set "line=skipped  %name%: it installs Halvane; run-tests.cmd /all runs it"
    call :say
    goto :eof
  )
  reg query "HKCU\Software\Marrowin\Halvane" >nul 2>&1
  if not errorlevel 1 (
    set /a skipped+=1
    set "line=skipped  %name%: Halvane is installed for this user; remove it first"
    call :say
    goto :eof
  )
  rem The language the package's shortcut passes for this user's language.
  if "!HALVANE_TEST_LANGUAGE!"=="" set HALVANE_TEST_LANGUAGE=en
  set arguments=msi\current.msi msi\a-day-later.msi msi\other-arch.msi msi\same-version.msi msi\next.msi @ARCH@ @VERSION@ @NEXT_VERSION@ !HALVANE_TEST_LANGUAGE!
)
if /i "%name%"=="browser_host_test" if not "!all!"=="1" set arguments=--gtest_filter=-HostRegistration.*
rem The helper says the verdict and ends what the program left running.
bin\bundle_helper.exe run %name% !limit! !arguments!
if errorlevel 1 (set /a failed+=1) else set /a passed+=1
call :restore
if errorlevel 1 set restoreFailed=1
goto :eof

rem :save - each key into its own file, N.reg, or N.none where there is none,
rem then the mark that the copy is complete. A complete copy left by a run that
rem was stopped holds the user's own keys: put back, and kept for this run. A
rem copy without the mark was stopped while saving, before any program ran: the
rem keys are still the user's, and are saved again.
:save
if exist "!saved!\complete" (
  echo run-tests: putting back the registry keys a stopped run saved in !saved!
  call :restore
  if errorlevel 1 (
    echo run-tests: they could not all be put back: nothing was run
    exit /b 1
  )
  exit /b 0
)
if exist "!saved!" rmdir /s /q "!saved!"
mkdir "!saved!" 2>nul
if not exist "!saved!\." exit /b 1
set n=0
for %%k in (%keys%) do (
  set /a n+=1
  reg query %%k >nul 2>&1
  if errorlevel 1 (
    type nul >"!saved!\!n!.none"
    if not exist "!saved!\!n!.none" exit /b 1
  ) else (
    reg export %%k "!saved!\!n!.reg" >nul 2>&1
    if errorlevel 1 (
      echo run-tests: cannot save %%~k into !saved!\!n!.reg
      exit /b 1
    )
  )
)
type nul >"!saved!\complete"
if not exist "!saved!\complete" exit /b 1
exit /b 0

rem :restore - each key as saved: the tests' changes deleted, the saved copy
rem imported. Fails, naming the file that holds it, for each key not put back.
:restore
set n=0
set restored=0
for %%k in (%keys%) do (
  set /a n+=1
  if exist "!saved!\!n!.none" (
    reg delete %%k /f >nul 2>&1
    reg query %%k >nul 2>&1
    if not errorlevel 1 (
      set restored=1
      set "line=run-tests: cannot delete %%~k, which the user did not have"
      call :say
    )
  )
  if exist "!saved!\!n!.reg" (
    reg delete %%k /f >nul 2>&1
    reg import "!saved!\!n!.reg" >nul 2>&1
    if errorlevel 1 (
      set restored=1
      set "line=run-tests: cannot put back %%~k: it is saved in !saved!\!n!.reg"
      call :say
    )
  )
)
exit /b !restored!

rem :say - the line (its text in the variable line) shown and kept in
rem results\summary.txt. Passed in a variable, as a path in it may hold & or (.
rem The redirection first, so that a line ending in a digit is not taken for a
rem handle number.
:say
echo !line!
>>results\summary.txt echo !line!
goto :eof

:usage
echo run-tests.cmd [/all] [/limit SECONDS] [NAME...]
echo   Runs the test programs in bin\ and prints each one's verdict; exit code 0
echo   when all passed. /all also runs those that install Halvane and register
echo   its Firefox host. Reports: results\NAME.xml, output: results\NAME.txt.
popd
exit /b 0
