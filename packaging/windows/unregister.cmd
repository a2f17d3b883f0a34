@echo off
rem Removes the registration of qzCardReader.dll from this folder.
rem   unregister.cmd          the registration for every user (run as administrator)
rem   unregister.cmd /user    the current user's registration
setlocal
set "HERE=%~dp0"
set "MODE="
if "%~1"=="" set "MODE=machine"
if /i "%~1"=="/user" set "MODE=user"
if "%MODE%"=="" (
  echo usage: unregister.cmd [/user]
  exit /b 2
)
set "NATIVE=%WINDIR%\System32"
if exist "%WINDIR%\Sysnative\regsvr32.exe" set "NATIVE=%WINDIR%\Sysnative"
set "FAILED=0"
set "WIN64="
if /i "%PROCESSOR_ARCHITECTURE%"=="AMD64" set "WIN64=1"
if defined PROCESSOR_ARCHITEW6432 set "WIN64=1"
if defined WIN64 (
  call :unregister "%NATIVE%\regsvr32.exe" "%HERE%x64\qzCardReader.dll"
  if exist "%WINDIR%\SysWOW64\regsvr32.exe" (
    call :unregister "%WINDIR%\SysWOW64\regsvr32.exe" "%HERE%x86\qzCardReader.dll"
  ) else (
    echo No 32-bit subsystem here: x86\qzCardReader.dll left out.
  )
) else (
  call :unregister "%NATIVE%\regsvr32.exe" "%HERE%x86\qzCardReader.dll"
)
if "%FAILED%"=="1" exit /b 1
echo qzCardReader is no longer registered (%MODE%).
exit /b 0

:unregister
if "%MODE%"=="user" (
  "%~1" /s /u /n /i:user "%~2"
) else (
  "%~1" /s /u "%~2"
)
if errorlevel 1 (
  echo Unregistering %~2 failed.
  set "FAILED=1"
) else (
  echo Unregistered %~2
)
goto :eof
